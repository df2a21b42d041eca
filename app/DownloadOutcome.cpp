#include "app/DownloadOutcome.h"

#include <algorithm>
#include <map>

#include <QFileInfo>

#include "download/component/SongDownload.h"
#include "download/component/SongLinks.h"
#include "download/engine/ItemTransferRules.h"
#include "download/engine/TDlDownloadItem.h"
#include "download/files/DlFileNames.h"
#include "download/texts/DownloadErrors.h"

namespace app {
namespace {

// Failure codes of the engine, its limits and its file writing, with the
// words the log gives them. kErrServerRefused (an HTTP answer other than a
// song, or no connection) is read by its status instead.
const std::map<std::int32_t, const char*>& reasons() {
    using namespace dl;
    static const std::map<std::int32_t, const char*> table = {
        {kErrStopped, "下载被停止"},
        {kErrSizeLimit, "歌曲超过了大小限制"},
        {kErrTooOld, "歌曲已经过期"},
        {kErrDiskFull, "无法写入文件：磁盘已满"},
        {kErrWriteAccessDenied, "无法写入文件：没有写入权限"},
        {kErrFileNameTooLong, "无法写入文件：文件名太长"},
        {kErrInvalidFileName, "无法写入文件：文件名不合法"},
        {kErrFileWriteError, "无法写入文件"},
        {kErrNotAudio, "地址给出的不是歌曲"},
        {kErrPrecondFailed, "这个地址给出的不是歌曲（内容类型被拒绝）"},
        {kErrTimeout, "服务器没有及时回答（超时）"},
        {kErrInvalidUrl, "下载地址无效"},
        {kErrUnrecognizedScheme, "下载地址无效"},
        {kErrNameNotResolved, "找不到服务器的名字"},
        {kErrOperationCancelled, "下载被取消"},
        {kErrCannotConnect, "无法连接到服务器"},
        {kErrConnectionAborted, "连接中断，歌曲没有下载完整"},
        {kErrConnectionReset, "连接被服务器重置"},
        {kErrInvalidCa, "服务器的证书不可信"},
        {kErrInvalidServerResponse, "服务器的回答不是正常的网页回答"},
        {kErrRedirectFailed, "服务器转向的次数太多"},
        {kErrSecurityChannel, "无法和服务器建立加密连接"},
    };
    return table;
}

QString httpReason(std::int32_t status) {
    const QString http = QStringLiteral("（HTTP %1）").arg(status);
    if (status == 0) return QStringLiteral("没有连接到网络");
    if (status == 404 || status == 410) return QStringLiteral("服务器上没有这首歌") + http;
    if (status == 429) return QStringLiteral("服务器忙，请求太多") + http;
    if (status == 408) return QStringLiteral("服务器等待请求超时") + http;
    if (status >= 500 && status <= 599) return QStringLiteral("服务器出错") + http;
    if (status >= 300 && status <= 399) return QStringLiteral("服务器要求转到别处，却没有给出新地址") + http;
    // Refused answers to a request for the rest of a song: nothing was spliced.
    if (status == 206 || status == 416) return QStringLiteral("服务器没能从断开的地方接着发送歌曲") + http;
    if (status == 401 || status == 403 || status == 407) return QStringLiteral("服务器拒绝了下载") + http;
    if (status >= 400 && status <= 499) return QStringLiteral("服务器不接受这个请求") + http;
    return QStringLiteral("服务器没有给出歌曲") + http;
}

QString quotedTitle(const QString& title) { return QStringLiteral("《") + title + QStringLiteral("》"); }

}  // namespace

QString failureReason(std::int32_t errorCode, std::int32_t statusCode, const std::string& /*message*/,
                      std::int64_t retryAfter) {
    if (errorCode == dl::kErrServerRefused) {
        QString reason = httpReason(statusCode);
        // Asked to wait longer than the program waits: it did not try again.
        if (retryAfter > 0)
            reason += QStringLiteral("，服务器要求 %1 秒后再试，等待太久，没有再试").arg(retryAfter);
        return reason;
    }
    const auto known = reasons().find(errorCode);
    if (known != reasons().end()) return QString::fromUtf8(known->second);
    if (errorCode == dl::kErrException) return QStringLiteral("程序内部出错");
    if (dl::IsCurlError(errorCode)) return QStringLiteral("网络出错（代码 %1）").arg(errorCode);
    return QStringLiteral("出错（代码 %1）").arg(errorCode);
}

namespace {

// The further attempts by their reason, each counted once: the requests
// after a dropped line (those that went on from it, and the others), those
// after a server's "not now", those after the server's file changed; and
// whether the bytes began with a part kept before this download.
void countAttempts(const dl::TransferOutcome& result, DownloadOutcome& outcome) {
    using Kind = dl::TransferOutcome::Retry::Kind;
    int afterBreak = 0;
    for (const dl::TransferOutcome::Retry& retry : result.retryReasons) {
        if (retry.kind == Kind::RestOfBrokenLine || dl::IsBrokenLine(retry.errorCode)) {
            ++afterBreak;
        } else if (retry.errorCode == dl::kErrServerRefused && dl::IsRetriedStatus(retry.statusCode)) {
            ++outcome.retries;
        } else {
            ++outcome.startedOver;
        }
    }
    int continuations = result.continuations;
    // The first answer 206 of a song that went on from a kept part is no
    // dropped line's.
    if (result.keptFrom != dl::TransferOutcome::KeptFrom::None && continuations > 0) {
        --continuations;
        outcome.resumed = result.keptFrom == dl::TransferOutcome::KeptFrom::ThisProgram
                              ? DownloadOutcome::Resumed::FromThisRun
                              : DownloadOutcome::Resumed::AfterRestart;
    }
    outcome.continuations = continuations;
    outcome.againAfterBreak = std::max(0, afterBreak - continuations);
}

// `received`: what arrived of a song that finished without its file (0: it
// was empty).
DownloadOutcome readEnded(const dl::TransferOutcome& result, std::uint64_t received) {
    using State = dl::TransferOutcome::End;
    DownloadOutcome outcome;
    countAttempts(result, outcome);
    outcome.kept = static_cast<std::int64_t>(result.keptBytes);
    const QFileInfo file(QString::fromStdString(result.filePath));
    const bool written = !result.filePath.empty() && file.isFile();
    const State end = result.end();
    if (end == State::Stopped) {
        outcome.kind = DownloadOutcome::Kind::Cancelled;
        // A page saved before the Cancel stays on disk: the line names it.
        if (written && result.savedAsPage) {
            outcome.path = file.absoluteFilePath();
            outcome.size = file.size();
        }
        return outcome;
    }
    if (result.url.empty()) {
        outcome.reason = QStringLiteral("没有选择歌曲，下载地址是空的");
        return outcome;
    }
    if (end == State::Finished) {
        if (written) {
            outcome.kind = result.savedAsPage ? DownloadOutcome::Kind::SavedAsPage : DownloadOutcome::Kind::Saved;
            outcome.path = file.absoluteFilePath();
            outcome.size = file.size();
            return outcome;
        }
        // Finished, but no file: nothing came, or it could not be written.
        outcome.reason = received == 0 && result.filePath.empty()
                             ? QStringLiteral("服务器给出的内容是空的，没有保存文件")
                             : QStringLiteral("无法写入文件");
        return outcome;
    }
    outcome.reason = failureReason(result.errorCode, result.statusCode, result.message, result.refusedRetryAfter);
    outcome.errorCode = result.errorCode;
    outcome.statusCode = result.statusCode;
    outcome.failure = result.failure;
    outcome.linkAtFault = dl::MovesToNextLink(result);
    return outcome;
}

}  // namespace

DownloadOutcome readOutcome(const dl::TransferOutcome& result) { return readEnded(result, 0); }

DownloadOutcome readOutcome(const std::optional<dl::TransferOutcome>& ended, bool cancelled,
                            std::size_t bytesReceived) {
    if (!ended) {
        DownloadOutcome outcome;
        outcome.kind = cancelled ? DownloadOutcome::Kind::Cancelled : DownloadOutcome::Kind::Failed;
        if (!cancelled) outcome.reason = QStringLiteral("下载没有开始");
        return outcome;
    }
    return readEnded(*ended, bytesReceived);
}

DownloadOutcome readOutcome(const dl::TDlDownloadItem* item, bool cancelled, std::size_t bytesReceived) {
    if (!item) return readOutcome(std::optional<dl::TransferOutcome>(), cancelled, bytesReceived);
    return readEnded(dl::SongDownload::OutcomeOf(*item, std::nullopt, cancelled), bytesReceived);
}

QString linkFailureText(const DownloadOutcome& outcome) {
    if (outcome.failure == dl::FailureClass::NotAudio) return QStringLiteral("不是歌曲");
    if (outcome.statusCode != 0 && outcome.errorCode == dl::kErrServerRefused)
        return QStringLiteral("HTTP %1").arg(outcome.statusCode);
    return outcome.reason;
}

QString readableSize(std::int64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 字节").arg(bytes);
    // Below what would show as 1024.0 KB.
    const double kilobytes = static_cast<double>(bytes) / 1024;
    if (kilobytes < 1023.95) return QStringLiteral("%1 KB").arg(kilobytes, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024 * 1024), 0, 'f', 2);
}

namespace {

// What a song's line adds in brackets: where it went on from, how often it
// was asked again and why, and what of it is kept.
QStringList notesOf(const DownloadOutcome& outcome) {
    QStringList notes;
    if (outcome.resumed == DownloadOutcome::Resumed::AfterRestart) notes << QStringLiteral("程序重新启动后接着下载");
    if (outcome.resumed == DownloadOutcome::Resumed::FromThisRun) notes << QStringLiteral("接着之前下载的部分下载");
    if (outcome.continuations > 0) notes << QStringLiteral("断线后接着下载了 %1 次").arg(outcome.continuations);
    if (outcome.againAfterBreak > 0) notes << QStringLiteral("断线后又试了 %1 次").arg(outcome.againAfterBreak);
    if (outcome.startedOver > 0)
        notes << QStringLiteral("服务器上的文件变了，从头重新下载了 %1 次").arg(outcome.startedOver);
    if (outcome.retries > 0) notes << QStringLiteral("服务器忙，重试了 %1 次").arg(outcome.retries);
    return notes;
}

// The bytes kept, and that the next download of the song continues them.
QString keptText(const DownloadOutcome& outcome) {
    return QStringLiteral("已下载的 ") + readableSize(outcome.kept) +
           QStringLiteral(" 保留了下来，下次下载这首歌会接着下载");
}

QString bracketed(const QStringList& notes) {
    return notes.isEmpty() ? QString() : QStringLiteral("（") + notes.join(QStringLiteral("，")) + QStringLiteral("）");
}

}  // namespace

QString outcomeLogLine(const QString& title, const DownloadOutcome& outcome) {
    QStringList notes = notesOf(outcome);
    switch (outcome.kind) {
    case DownloadOutcome::Kind::Saved:
        notes.prepend(readableSize(outcome.size));
        return QStringLiteral("下载完成：") + quotedTitle(title) + QStringLiteral("已保存为 ") + outcome.path +
               bracketed(notes);
    case DownloadOutcome::Kind::SavedAsPage:
        return QStringLiteral("下载的不是歌曲：") + quotedTitle(title) +
               QStringLiteral("的地址给出的是一个网页，已保存为网页 ") + outcome.path + bracketed(notes);
    case DownloadOutcome::Kind::Cancelled:
        if (!outcome.path.isEmpty())
            return QStringLiteral("已取消下载：") + quotedTitle(title) +
                   QStringLiteral("，地址给出的是一个网页，已保存为网页 ") + outcome.path +
                   QStringLiteral("，网页用到的其他文件没有全部下载");
        if (outcome.kept > 0) return QStringLiteral("已取消下载：") + quotedTitle(title) + QStringLiteral("，") + keptText(outcome);
        return QStringLiteral("已取消下载：") + quotedTitle(title) + QStringLiteral("，没有保存文件");
    case DownloadOutcome::Kind::Failed: break;
    }
    if (outcome.kept > 0) notes << keptText(outcome);
    return QStringLiteral("下载失败：") + quotedTitle(title) + QStringLiteral("，") + outcome.reason + bracketed(notes);
}

QString batchSummaryLine(int saved, int pages, int failed, int notDownloaded) {
    QString line = QStringLiteral("批量下载结束：保存了 %1 首").arg(saved);
    // A page saved where a song was asked for is no song.
    if (pages > 0) line += QStringLiteral("和 %1 个网页").arg(pages);
    line += QStringLiteral("，失败 %1 首").arg(failed);
    if (notDownloaded > 0) line += QStringLiteral("，取消后还有 %1 首没有下载").arg(notDownloaded);
    return line + QStringLiteral("。");
}

}  // namespace app
