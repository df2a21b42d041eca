// The verdicts as the grid shows them: their words, the rows' marks, grey
// text and tooltips, the reading of kept verdicts, and 检查链接's checker
// against a loopback server.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <QColor>
#include <QIcon>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "app/GridLinkChecks.h"
#include "store/LinkVerdictStore.h"
#include "store/SongStore.h"
#include "store/view/GridVerdictLoader.h"
#include "store/view/GridVerdicts.h"
#include "store/view/LinkVerdictMarks.h"
#include "store/view/LinkVerdictText.h"
#include "store/view/SongTableModel.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/HeldAnswerServer.h"
#include "tests/support/MpegFrames.h"
#include "tests/support/ProbeServer.h"

namespace {

using apptest::pumpUntil;
using store::LinkVerdictKind;
using store::StoredVerdict;
using testsupport::ProbeServer;

constexpr std::int64_t kNow = 1796800000;

StoredVerdict verdict(LinkVerdictKind kind, int code, int status, std::string reason = {}) {
    StoredVerdict v;
    v.checkedAt = kNow;
    v.verdict = kind;
    v.code = code;
    v.status = status;
    v.reason = std::move(reason);
    return v;
}

StoredVerdict song(std::optional<int> kbps, std::optional<double> seconds, std::optional<std::int64_t> size) {
    StoredVerdict v = verdict(LinkVerdictKind::Audio, 206, 206);
    v.kbps = kbps;
    v.seconds = seconds;
    v.size = size;
    return v;
}

TEST(LinkVerdictText, DetailsOfEachKind) {
    struct Case {
        StoredVerdict verdict;
        std::int64_t ago;
        const char* details;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {song(128, 251.6, 4128768), 120, "可用：128 kbps，4:12，3.9 MB（2 分钟前检查）", ""},
        {song(320, 3723, std::nullopt), 0, "可用：320 kbps，1:02:03（刚刚检查）", ""},
        {song(std::nullopt, std::nullopt, 900), 59, "可用：900 字节（刚刚检查）", ""},
        {song(std::nullopt, 59.4, std::nullopt), 60, "可用：0:59（1 分钟前检查）", ""},
        {song(std::nullopt, std::nullopt, std::nullopt), 3599, "可用（59 分钟前检查）", ""},
        {verdict(LinkVerdictKind::NotAudio, 206, 206, "web page"), 3600, "不是歌曲：网页（1 小时前检查）", "网页"},
        {verdict(LinkVerdictKind::NotAudio, 200, 200, "empty body"), 86399, "不是歌曲：空的回答（23 小时前检查）",
         "空的回答"},
        {verdict(LinkVerdictKind::NotAudio, 416, 416, "empty body"), 86400, "不是歌曲：空的回答（1 天前检查）",
         "空的回答"},
        {verdict(LinkVerdictKind::NotAudio, 206, 206, "not MPEG audio"), 10 * 86400,
         "不是歌曲：不是 MPEG 音频（10 天前检查）", "不是 MPEG 音频"},
        {verdict(LinkVerdictKind::NotAudio, 206, 206, "something new"), 0, "不是歌曲（刚刚检查）", ""},
        {verdict(LinkVerdictKind::Dead, 404, 404, "HTTP 404"), 0, "失效：HTTP 404（刚刚检查）", "HTTP 404"},
        {verdict(LinkVerdictKind::Dead, 12007, 0, "name not resolved"), 0, "失效：找不到服务器（刚刚检查）",
         "找不到服务器"},
        {verdict(LinkVerdictKind::Dead, 12029, 0), 0, "失效：连接被拒绝（刚刚检查）", "连接被拒绝"},
        {verdict(LinkVerdictKind::Dead, 12002, 0), 0, "失效：超时（刚刚检查）", "超时"},
        {verdict(LinkVerdictKind::Dead, 12006, 0), 0, "失效：不是 http 或 https 地址（刚刚检查）",
         "不是 http 或 https 地址"},
        {verdict(LinkVerdictKind::Dead, 12345, 0), 0, "失效：错误 12345（刚刚检查）", "错误 12345"},
        {verdict(LinkVerdictKind::Dead, 0, 0), 0, "失效（刚刚检查）", ""},
        {verdict(LinkVerdictKind::Unavailable, 503, 503), 0, "暂时不可用：HTTP 503（刚刚检查）", "HTTP 503"},
        {verdict(LinkVerdictKind::Unavailable, 429, 429), 0, "暂时不可用：HTTP 429（刚刚检查）", "HTTP 429"},
        {verdict(LinkVerdictKind::Unavailable, 12030, 0), 0, "暂时不可用：连接中断（刚刚检查）", "连接中断"},
        // A clock set back since: no "-3 分钟前".
        {verdict(LinkVerdictKind::Dead, 410, 410), -200, "失效：HTTP 410（刚刚检查）", "HTTP 410"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.details);
        EXPECT_EQ(store::verdictDetails(c.verdict, kNow + c.ago), QString::fromUtf8(c.details));
        EXPECT_EQ(store::verdictReason(c.verdict), QString::fromUtf8(c.reason));
    }
}

TEST(LinkVerdictText, SizesAtTheirEdges) {
    const std::vector<std::pair<std::int64_t, const char*>> cases = {
        {0, "0 字节"},         {1023, "1023 字节"},       {1024, "1 KB"},           {1535, "1 KB"},
        {1536, "2 KB"},        {1048063, "1023 KB"},      {1048064, "1.0 MB"},      {4128768, "3.9 MB"},
        {1073741824, "1024.0 MB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(store::linkSize(bytes), QString::fromUtf8(text)) << bytes;
}

// A model over a store of rows "title N" / "http://h/N.mp3", some of them probed.
class GridMarks : public ::testing::Test {
protected:
    GridMarks() {
        apptest::app();
        verdicts_.setClock([] { return kNow + 120; });
        model_.setVerdicts(&verdicts_);
    }
    StoredVerdict at(int row, StoredVerdict v) {
        v.url = "http://h/" + std::to_string(row) + ".mp3";
        return v;
    }
    QVariant cell(int row, int column, int role) { return model_.data(model_.index(row, column), role); }

    apptest::StoreFile file_{5};
    store::SongStore store_{file_.path};
    store::GridVerdicts verdicts_;
    store::SongTableModel model_{store_};
};

TEST_F(GridMarks, MarkGreyAndTooltipWithoutTouchingTheColumns) {
    verdicts_.put(at(0, song(128, 251.6, 4128768)));
    verdicts_.put(at(1, verdict(LinkVerdictKind::Dead, 404, 404)));
    verdicts_.put(at(2, verdict(LinkVerdictKind::NotAudio, 206, 206, "web page")));
    verdicts_.put(at(3, verdict(LinkVerdictKind::Unavailable, 503, 503)));
    verdicts_.put(at(99, verdict(LinkVerdictKind::Dead, 404, 404)));  // no row has it
    struct Case {
        int row;
        std::optional<LinkVerdictKind> mark;
        bool grey;
        const char* tip;
    };
    const std::vector<Case> cases = {
        {0, LinkVerdictKind::Audio, false, "可用：128 kbps，4:12，3.9 MB（2 分钟前检查）"},
        {1, LinkVerdictKind::Dead, true, "失效：HTTP 404（2 分钟前检查）"},
        {2, LinkVerdictKind::NotAudio, true, "不是歌曲：网页（2 分钟前检查）"},
        {3, LinkVerdictKind::Unavailable, false, "暂时不可用：HTTP 503（2 分钟前检查）"},
        {4, std::nullopt, false, nullptr},
    };
    std::vector<qint64> marks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        // The columns say what they said, whatever the verdict.
        EXPECT_EQ(cell(c.row, 0, Qt::DisplayRole).toString(), QStringLiteral("title %1").arg(c.row));
        EXPECT_EQ(cell(c.row, 1, Qt::DisplayRole).toString(), QStringLiteral("key"));
        EXPECT_EQ(cell(c.row, 2, Qt::DisplayRole).toString(), QStringLiteral("http://h/%1.mp3").arg(c.row));
        const QVariant mark = cell(c.row, 0, Qt::DecorationRole);
        if (c.mark) {
            ASSERT_TRUE(mark.canConvert<QIcon>());
            EXPECT_EQ(mark.value<QIcon>().cacheKey(), store::verdictMark(*c.mark).cacheKey());
            marks.push_back(mark.value<QIcon>().cacheKey());
        } else {
            EXPECT_FALSE(mark.isValid());
        }
        for (int column = 0; column < 3; ++column) {
            // The mark before the title only; the grey and the tooltip on the whole row.
            if (column > 0) {
                EXPECT_FALSE(cell(c.row, column, Qt::DecorationRole).isValid());
            }
            const QVariant colour = cell(c.row, column, Qt::ForegroundRole);
            EXPECT_EQ(colour.isValid(), c.grey);
            if (c.grey) {
                EXPECT_EQ(colour.value<QColor>(), store::greyedText());
            }
            EXPECT_EQ(cell(c.row, column, Qt::ToolTipRole).toString(), c.tip ? QString::fromUtf8(c.tip) : QString());
        }
    }
    std::sort(marks.begin(), marks.end());
    EXPECT_EQ(std::unique(marks.begin(), marks.end()), marks.end()) << "each verdict its own mark";
    EXPECT_EQ(model_.headerData(0, Qt::Horizontal).toString(), QStringLiteral("歌曲或专辑名称"));
    EXPECT_EQ(model_.columnCount(), 3);
}

TEST_F(GridMarks, DrawnWithTheSameRolesAsAskedOneByOne) {
    verdicts_.put(at(1, verdict(LinkVerdictKind::Dead, 12007, 0)));
    for (int row : {0, 1}) {
        for (int column = 0; column < 3; ++column) {
            std::vector<QModelRoleData> roles;
            for (int role : {Qt::DisplayRole, Qt::DecorationRole, Qt::ForegroundRole, Qt::ToolTipRole, Qt::FontRole})
                roles.emplace_back(role);
            model_.multiData(model_.index(row, column), roles);
            for (QModelRoleData& r : roles) {
                SCOPED_TRACE(testing::Message() << row << "," << column << " role " << r.role());
                const QVariant one = cell(row, column, r.role());
                EXPECT_EQ(r.data().isValid(), one.isValid());
                if (r.role() == Qt::DecorationRole && one.isValid()) {
                    EXPECT_EQ(r.data().value<QIcon>().cacheKey(), one.value<QIcon>().cacheKey());
                } else {
                    EXPECT_EQ(r.data(), one);
                }
            }
        }
    }
}

TEST_F(GridMarks, ABurstOfVerdictsRepaintsOnceAndAnOlderOneUndoesNothing) {
    QSignalSpy repaints(&model_, &QAbstractItemModel::dataChanged);
    StoredVerdict later = at(0, verdict(LinkVerdictKind::Dead, 404, 404));
    later.checkedAt = kNow + 60;
    verdicts_.put(later);
    StoredVerdict earlier = at(0, song(128, 10, 1000));
    verdicts_.putAll({earlier, at(1, verdict(LinkVerdictKind::Unavailable, 503, 503))});
    ASSERT_TRUE(pumpUntil([&] { return repaints.count() > 0; }, 10000));
    apptest::pumpFor(300);
    EXPECT_EQ(repaints.count(), 1);
    EXPECT_EQ(verdicts_.find("http://h/0.mp3")->verdict, LinkVerdictKind::Dead);
    EXPECT_EQ(cell(0, 0, Qt::ToolTipRole).toString(), QStringLiteral("失效：HTTP 404（1 分钟前检查）"));
    EXPECT_EQ(cell(1, 2, Qt::ToolTipRole).toString(), QStringLiteral("暂时不可用：HTTP 503（2 分钟前检查）"));
}

TEST_F(GridMarks, KeptVerdictsAreReadAtStartAndForRowsAddedLater) {
    StoredVerdict kept = at(1, verdict(LinkVerdictKind::Dead, 404, 404));
    StoredVerdict ofALaterRow = kept;
    ofALaterRow.url = "http://later/1.mp3";
    store::LinkVerdictStore(file_.path).save({kept, ofALaterRow});
    store::GridVerdictLoader loader(file_.path, verdicts_);
    ASSERT_TRUE(pumpUntil([&] { return loader.idle() && verdicts_.size() == 1; }, 30000));
    EXPECT_EQ(verdicts_.find(kept.url)->code, 404);
    EXPECT_EQ(verdicts_.find(ofALaterRow.url), nullptr);  // no row has it yet

    store_.Insert("later", ofALaterRow.url, "key");
    loader.lookForNewRows();
    ASSERT_TRUE(pumpUntil([&] { return verdicts_.find(ofALaterRow.url) != nullptr; }, 30000));
    EXPECT_EQ(verdicts_.size(), 2u);
}

// ---- the checker ----------------------------------------------------------

constexpr std::size_t kFrame = 417;  // 128 kbps at 44100 Hz

std::string mpegSong(std::size_t frames) {
    std::string out;
    for (std::size_t i = 0; i < frames; ++i) out += probetest::frame(probetest::FrameSpec{}, kFrame);
    return out;
}

ProbeServer::Route answer(int status, std::string body, std::string type = "audio/mpeg") {
    ProbeServer::Route r;
    r.status = status;
    r.body = std::move(body);
    r.contentType = std::move(type);
    return r;
}

class Checker : public ::testing::Test {
protected:
    Checker() { apptest::app(); }
    ~Checker() override { server_.stop(); }
    void startChecks() {
        inet::ProbeSettings settings;
        settings.totalTimeoutMs = 60000;
        checks_ = std::make_unique<app::GridLinkChecks>(file_.path, verdicts_,
                                                        [this](const QString& line) { log_ << line; }, settings);
    }
    bool logged(const QString& line) const { return log_.contains(line); }

    apptest::StoreFile file_;
    ProbeServer server_{{
        {"/song.mp3", answer(200, mpegSong(200))},
        {"/page.mp3", answer(200, "<!DOCTYPE html><html><body>没有这首歌</body></html>", "text/html")},
    }};
    testsupport::HeldAnswerServer held_{mpegSong(50)};
    store::GridVerdicts verdicts_;
    QStringList log_;
    std::unique_ptr<app::GridLinkChecks> checks_;
};

TEST_F(Checker, ProbesEachAddressOnceShowsKeepsAndCountsTheVerdicts) {
    startChecks();
    const std::string song = server_.url("/song.mp3"), missing = server_.url("/missing.mp3"),
                      page = server_.url("/page.mp3");
    checks_->check({QString::fromStdString(song), QString::fromStdString(missing), QString::fromStdString(page),
                    QString::fromStdString(song), QStringLiteral("ftp://h/a.mp3"), QStringLiteral("file:///etc/passwd")});
    EXPECT_EQ(log_.value(0), QStringLiteral("不检查 2 个链接：只检查 http 或 https 网址。"));
    EXPECT_EQ(log_.value(1), QStringLiteral("正在检查 3 个链接……"));
    const QString ended = QStringLiteral("检查了 3 个链接：1 个可用，1 个不是歌曲，1 个失效，0 个暂时不可用。");
    ASSERT_TRUE(pumpUntil([&] { return logged(ended); }));
    EXPECT_TRUE(checks_->idle());
    ASSERT_EQ(verdicts_.size(), 3u);
    EXPECT_EQ(verdicts_.find(song)->verdict, LinkVerdictKind::Audio);
    EXPECT_EQ(verdicts_.find(song)->kbps, 128);
    EXPECT_EQ(verdicts_.find(missing)->status, 404);
    EXPECT_EQ(verdicts_.find(page)->reason, "web page");
    EXPECT_EQ(server_.requests().size(), 3u);  // the repeated address once
    // Kept in the store, for the next start and the downloads list.
    const auto kept = store::LinkVerdictStore(file_.path).find({song, missing, page, "ftp://h/a.mp3"});
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].verdict, LinkVerdictKind::Audio);
    EXPECT_EQ(kept[1].verdict, LinkVerdictKind::Dead);
    EXPECT_EQ(kept[2].verdict, LinkVerdictKind::NotAudio);
}

// A page's anchor may leave a blank at the end of the address it gives.
TEST_F(Checker, RequestsAnAddressAsADownloadWouldAndKeepsItAsStored) {
    startChecks();
    const std::string stored = server_.url("/song.mp3") + " ";
    checks_->check({QString::fromStdString(stored)});
    ASSERT_TRUE(pumpUntil([&] { return checks_->idle() && verdicts_.find(stored) != nullptr; }));
    EXPECT_EQ(verdicts_.find(stored)->verdict, LinkVerdictKind::Audio);
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(server_.requests()[0].target, "/song.mp3");
    EXPECT_EQ(store::LinkVerdictStore(file_.path).find({stored}).size(), 1u);
}

TEST_F(Checker, ASecondCheckWaitsForTheFirstAndSkipsWhatItProbes) {
    startChecks();
    const QString slow = QString::fromStdString(held_.url("/held.mp3"));
    const QString song = QString::fromStdString(server_.url("/song.mp3"));
    checks_->check({slow});
    ASSERT_TRUE(held_.waitForRequest(std::chrono::seconds(30)));
    checks_->check({slow});
    EXPECT_EQ(log_.last(), QStringLiteral("所选的链接已经在检查中。"));
    checks_->check({slow, song});
    EXPECT_EQ(log_.last(), QStringLiteral("1 个链接等正在进行的检查结束后再检查。"));
    const QString one = QStringLiteral("检查了 1 个链接：1 个可用，0 个不是歌曲，0 个失效，0 个暂时不可用。");
    // The song waits behind the held one.
    apptest::pumpFor(200);
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_FALSE(checks_->idle());
    held_.release();
    ASSERT_TRUE(pumpUntil([&] { return log_.count(one) == 2; }));
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(verdicts_.find(held_.url("/held.mp3"))->verdict, LinkVerdictKind::Audio);
    EXPECT_TRUE(checks_->idle());
}

TEST_F(Checker, StopEndsTheProbesAndRecordsNothingUnjudged) {
    startChecks();
    const std::string never = held_.url("/held.mp3"), missing = server_.url("/missing.mp3");
    checks_->check({QString::fromStdString(never), QString::fromStdString(missing)});
    checks_->check({QString::fromStdString(server_.url("/song.mp3"))});  // waits behind it
    ASSERT_TRUE(held_.waitForRequest(std::chrono::seconds(30)));
    ASSERT_TRUE(pumpUntil([&] { return verdicts_.find(missing) != nullptr; }));
    const auto logLines = log_.size();
    checks_->stop();
    ASSERT_TRUE(pumpUntil([&] { return checks_->idle(); }, 30000));
    checks_.reset();  // joins at once: nothing waits on the held answer
    apptest::pumpFor(50);
    EXPECT_EQ(log_.size(), logLines);  // no end line for a stopped check
    EXPECT_EQ(verdicts_.find(never), nullptr);
    const auto kept = store::LinkVerdictStore(file_.path).find({never, missing, server_.url("/song.mp3")});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].url, missing);
    EXPECT_EQ(server_.requests().size(), 1u);  // the waiting check never ran
}

}  // namespace
