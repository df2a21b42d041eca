#include "store/view/LinkVerdictText.h"

#include <cmath>

#include <QStringList>

namespace store {
namespace {

// The download road's error numbers as the probes record them (a verdict
// without an answer keeps the number instead of a status).
QString failureName(int code) {
    switch (code) {
    case 12002: return QStringLiteral("超时");
    case 12005: return QStringLiteral("地址无效");
    case 12006: return QStringLiteral("不是 http 或 https 地址");
    case 12007: return QStringLiteral("找不到服务器");
    case 12017: return QStringLiteral("检查被停止");
    case 12029: return QStringLiteral("连接被拒绝");
    case 12030: return QStringLiteral("连接中断");
    case 12031: return QStringLiteral("连接被重置");
    case 12045: return QStringLiteral("证书不可信");
    case 12152: return QStringLiteral("回答不是 HTTP");
    case 12156: return QStringLiteral("转向太多");
    case 12157: return QStringLiteral("无法建立加密连接");
    default: return code > 0 ? QStringLiteral("错误 %1").arg(code) : QString();
    }
}

// What the first bytes were instead of a song (the probe's words).
QString notAudioName(const std::string& reason) {
    if (reason == "web page") return QStringLiteral("网页");
    if (reason == "empty body") return QStringLiteral("空的回答");
    if (reason == "not MPEG audio") return QStringLiteral("不是 MPEG 音频");
    if (reason == "audio starts past what a probe reads") return QStringLiteral("开头太长，没有读到音频");
    if (reason == "a range other than asked for") return QStringLiteral("服务器给出的不是要的那一段");
    return {};
}

}  // namespace

QString verdictWord(LinkVerdictKind kind) {
    switch (kind) {
    case LinkVerdictKind::Audio: return QStringLiteral("可用");
    case LinkVerdictKind::NotAudio: return QStringLiteral("不是歌曲");
    case LinkVerdictKind::Dead: return QStringLiteral("失效");
    case LinkVerdictKind::Unavailable: return QStringLiteral("暂时不可用");
    }
    return {};
}

QString verdictReason(const StoredVerdict& verdict) {
    switch (verdict.verdict) {
    case LinkVerdictKind::Audio: return {};
    case LinkVerdictKind::NotAudio: return notAudioName(verdict.reason);
    case LinkVerdictKind::Dead:
    case LinkVerdictKind::Unavailable:
        if (verdict.status > 0) return QStringLiteral("HTTP %1").arg(verdict.status);
        return failureName(verdict.code);
    }
    return {};
}

QString checkedAgo(std::int64_t checkedAt, std::int64_t now) {
    const std::int64_t ago = now - checkedAt;
    if (ago < 60) return QStringLiteral("刚刚检查");
    if (ago < 3600) return QStringLiteral("%1 分钟前检查").arg(ago / 60);
    if (ago < 86400) return QStringLiteral("%1 小时前检查").arg(ago / 3600);
    return QStringLiteral("%1 天前检查").arg(ago / 86400);
}

QString songLength(double seconds) {
    const auto whole = static_cast<std::int64_t>(std::llround(seconds));
    const auto two = [](std::int64_t n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (whole < 3600) return QStringLiteral("%1:%2").arg(whole / 60).arg(two(whole % 60));
    return QStringLiteral("%1:%2:%3").arg(whole / 3600).arg(two(whole / 60 % 60)).arg(two(whole % 60));
}

QString linkSize(std::int64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 字节").arg(bytes);
    // Below what would show as 1024 KB.
    if (bytes < 1024 * 1024 - 512) return QStringLiteral("%1 KB").arg(std::llround(bytes / 1024.0));
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024 * 1024), 0, 'f', 1);
}

QString verdictDetails(const StoredVerdict& verdict, std::int64_t now) {
    QStringList parts;
    if (verdict.verdict == LinkVerdictKind::Audio) {
        if (verdict.kbps) parts << QStringLiteral("%1 kbps").arg(*verdict.kbps);
        if (verdict.seconds) parts << songLength(*verdict.seconds);
        if (verdict.size) parts << linkSize(*verdict.size);
    } else {
        const QString reason = verdictReason(verdict);
        if (!reason.isEmpty()) parts << reason;
    }
    QString line = verdictWord(verdict.verdict);
    if (!parts.isEmpty()) line += QStringLiteral("：") + parts.join(QStringLiteral("，"));
    return line + QStringLiteral("（") + checkedAgo(verdict.checkedAt, now) + QStringLiteral("）");
}

}  // namespace store
