// A song whose transfer stops in the middle is continued where it stopped:
// against a loopback server that drops the connection (or falls silent) at
// given offsets, with and without range support, with a file that changes
// and with a Content-Range that lies. The song either arrives byte for byte
// as the server has it, or it fails; it is never put together from pieces
// that do not belong together.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/download/SongRun.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using dltest::namesIn;
using dltest::range;
using dltest::rangesAsked;
using dltest::SongRun;
using testsupport::RangeServer;

namespace {

constexpr std::uint64_t kSize = 200000;
constexpr std::uint64_t k30 = 60000, k60 = 120000, k90 = 180000;
const auto kFile = testsupport::patternBody(kSize, 0);
const auto kChangedFile = testsupport::patternBody(kSize, 1);
const std::string kDate = "Sun, 06 Nov 1994 08:49:37 GMT";
const std::string kOtherDate = "Mon, 07 Nov 1994 08:49:37 GMT";

RangeServer::Version file(std::string etag, std::string date = "") { return {kFile, std::move(etag), std::move(date)}; }

enum class Arrives { Whole, Changed, Longer, Not };
// The file of the same ETag grown by ten bytes.
const auto kLongerFile = testsupport::patternBody(kSize + 10, 0);

}  // namespace

TEST(Continue, ASongArrivesWholeWhereTheServerAllowsItAndIsNeverSplicedWhereItDoesNot) {
    struct Case {
        const char* name;
        RangeServer::Setup setup;
        Arrives arrives;
        std::int32_t code = 0;
        std::string message = "";
        std::vector<std::string> ranges = {};  // each request's Range ("" for none)
        std::string ifRange = "";              // the If-Range of every continuation
        std::int32_t continuations = 0;
        bool kept = false;                     // a failed song keeps its part file
        std::int64_t received = -1;            // bytes received in all; -1: not checked
        bool continuing = true;
        std::int32_t dataTimeout = 0;
        int further = 3;                       // further attempts allowed
    };
    using S = RangeServer::Setup;
    using Lie = RangeServer::Lie;
    const auto drops = [](RangeServer::Version v, std::vector<std::uint64_t> at) {
        S s;
        s.file = std::move(v);
        s.dropAt = std::move(at);
        return s;
    };
    const auto with = [](S s, auto change) {
        change(s);
        return s;
    };
    const std::string v1 = "\"v1\"";
    const std::vector<std::string> threeDrops = {"", range(k30), range(k60), range(k90)};
    const std::vector<std::string> oneDrop = {"", range(k30)};
    const std::string refused206 = "HTTP Error: 206";
    std::vector<Case> cases = {
        {"drops at 30, 60 and 90 %, an ETag", drops(file(v1), {k30, k60, k90}), Arrives::Whole, 0, "", threeDrops, v1,
         3, false, static_cast<std::int64_t>(kSize)},
        {"the same with a date only", drops(file("", kDate), {k30, k60, k90}), Arrives::Whole, 0, "", threeDrops,
         kDate, 3, false, static_cast<std::int64_t>(kSize)},
        {"a weak ETag: the date goes in If-Range", drops(file("W/\"w\"", kDate), {k30}), Arrives::Whole, 0, "",
         oneDrop, kDate, 1},
        {"no validator, a length", drops(file(""), {k30, k60}), Arrives::Whole, 0, "",
         {"", range(k30), range(k60)}, "", 2},
        {"no Accept-Ranges: it tries", with(drops(file(v1), {k30}), [](S& s) { s.acceptRanges.clear(); }),
         Arrives::Whole, 0, "", oneDrop, v1, 1},
        // Where it may not ask for the rest, it asks for the whole song again.
        {"Accept-Ranges: none", with(drops(file(v1), {k30}), [](S& s) { s.acceptRanges = "none"; }), Arrives::Whole,
         0, "", {"", ""}, "", 0, false, static_cast<std::int64_t>(k30 + kSize)},
        {"it falls silent past the data time limit",
         with(drops(file(v1), {k60}), [](S& s) { s.drop = RangeServer::Drop::Stall; }), Arrives::Whole, 0, "",
         {"", range(k60)}, v1, 1, false, static_cast<std::int64_t>(kSize), true, 1},
        {"ranges ignored: the whole file again", with(drops(file(v1), {k30}), [](S& s) {
             s.ranges = RangeServer::Ranges::Ignored;
         }),
         Arrives::Whole, 0, "", oneDrop, v1, 0, false, static_cast<std::int64_t>(k30 + kSize)},
        {"ranges ignored, and it drops each time", with(drops(file(v1), {k30, k60, k90, k90 + 5000}), [](S& s) {
             s.ranges = RangeServer::Ranges::Ignored;
         }),
         Arrives::Not, 12030, "Connection aborted", {"", range(k30), range(k60), range(k90)}, v1, 0, true},
        {"ranges refused with 416", with(drops(file(v1), {k30}), [](S& s) { s.ranges = RangeServer::Ranges::Refused; }),
         Arrives::Not, 2, "HTTP Error: 416", oneDrop, v1},
        {"the file changes; If-Range gets it whole", with(drops(file(v1), {k30}), [&](S& s) {
             s.changed = {kChangedFile, "\"v2\"", ""};
             s.changeAt = 1;
         }),
         Arrives::Changed, 0, "", oneDrop, v1, 0, false, static_cast<std::int64_t>(k30 + kSize)},
        {"the file changes and If-Range is ignored", with(drops(file(v1), {k30}), [&](S& s) {
             s.changed = {kChangedFile, "\"v2\"", ""};
             s.changeAt = 1;
             s.ifRangeHonoured = false;
         }),
         Arrives::Not, 2, refused206, oneDrop, v1},
        {"its date changes and If-Range is ignored", with(drops(file("", kDate), {k30}), [&](S& s) {
             s.changed = {kChangedFile, "", kOtherDate};
             s.changeAt = 1;
             s.ifRangeHonoured = false;
         }),
         Arrives::Not, 2, refused206, oneDrop, kDate},
        // Another whole length: the bytes held are of another file, and the
        // song starts over in its next attempt.
        {"its length changes under the same ETag", with(drops(file(v1), {k30}), [&](S& s) {
             s.changed = {kLongerFile, v1, ""};
             s.changeAt = 1;
         }),
         Arrives::Longer, 0, "", {"", range(k30), ""}, v1},
        {"its length changes and no attempt is left", with(drops(file(v1), {k30}), [&](S& s) {
             s.changed = {kLongerFile, v1, ""};
             s.changeAt = 1;
         }),
         Arrives::Not, 2, refused206, oneDrop, v1, 0, false, -1, true, 0, 1},
        {"more than three drops", drops(file(v1), {k30, k60, k90, k90 + 5000}), Arrives::Not, 12030,
         "Connection aborted", threeDrops, v1, 3, true},
        {"a drop before the first byte", drops(file(v1), {0}), Arrives::Whole, 0, "", {"", ""}},
        {"not asked to continue", drops(file(v1), {k30}), Arrives::Whole, 0, "", {"", ""}, "", 0, false, -1, false},
        {"an HTML answer", with(drops(file(v1), {k30}), [](S& s) { s.contentType = "text/html"; }), Arrives::Whole,
         0, "", {"", ""}},
        {"a continuation left unanswered, the next answered", with(drops(file(v1), {k30}), [](S& s) {
             s.unanswered = {1};
         }),
         Arrives::Whole, 0, "", {"", range(k30), range(k30)}, v1, 1},
        // Tried again, it takes up what it kept and asks for the rest once more.
        {"a continuation answered 503", with(drops(file(v1), {k30}), [](S& s) { s.statusOf = {{1, 503}}; }),
         Arrives::Whole, 0, "", {"", range(k30), range(k30)}, v1, 1},
        {"a continuation answered 503 each time", with(drops(file(v1), {k30}), [](S& s) {
             s.statusOf = {{1, 503}, {2, 503}, {3, 503}};
         }),
         Arrives::Not, 2, "Service unavailable", {"", range(k30), range(k30), range(k30)}, v1, 0, true},
        {"a continuation answered 404", with(drops(file(v1), {k30}), [](S& s) { s.statusOf = {{1, 404}}; }),
         Arrives::Not, 2, "File not found", oneDrop, v1},
        {"ranges smaller than asked", with(drops(file(v1), {k30}), [](S& s) { s.rangeCap = 50000; }), Arrives::Whole,
         0, "", {"", range(k30), range(k30 + 50000), range(k30 + 100000)}, v1, 3},
    };
    const std::vector<std::pair<const char*, Lie>> lies = {
        {"a Content-Range that starts later", Lie::StartsLater},
        {"a Content-Range that starts earlier", Lie::StartsEarlier},
        {"a Content-Range of another length", Lie::OtherTotal},
        {"no Content-Range", Lie::NoContentRange},
        {"a Content-Range without a length", Lie::NoTotal},
        {"a Content-Range that is none", Lie::Malformed},
        {"two Content-Ranges", Lie::TwoContentRanges},
        {"a Content-Length other than the range", Lie::LengthDiffers},
        {"more bytes than the range says", Lie::MoreThanItSays},
    };
    for (const auto& [name, lie] : lies) {
        const S setup = with(drops(file(v1), {k30}), [lie = lie](S& s) { s.lie = lie; });
        // One of another whole length speaks of another file: the song
        // starts over.
        if (lie == Lie::OtherTotal) {
            cases.push_back({name, setup, Arrives::Whole, 0, "", {"", range(k30), ""}, v1});
            continue;
        }
        // Only the one that lies in its bytes is taken up before it is found out.
        cases.push_back({name, setup, Arrives::Not, 2, refused206, oneDrop, v1, lie == Lie::MoreThanItSays ? 1 : 0});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(c.setup);
        SongRun song(server, std::chrono::milliseconds(1), c.continuing, c.dataTimeout);
        song.downloads.Attempts.maxFurther = c.further;
        ASSERT_TRUE(song.run());
        dl::TDlDownloadItem& item = song.item;
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        EXPECT_EQ(item.Progress.ErrorMessage, c.message);
        EXPECT_EQ(song.outcome().continuations, c.continuations);
        const std::vector<RangeServer::Request> requests = server.requests();
        EXPECT_EQ(rangesAsked(server), c.ranges);
        // Every continuation carries it; a request for the whole song none.
        for (std::size_t i = 1; i < requests.size(); ++i)
            EXPECT_EQ(requests[i].ifRange.value_or(""), requests[i].range ? c.ifRange : "") << i;
        if (c.received >= 0) {
            EXPECT_EQ(song.downloads.BytesReceived.load(), c.received);
        }
        if (c.arrives == Arrives::Not) {
            EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
            // Nothing of it stays but, where it may be continued, its part
            // file and what identifies it.
            const std::vector<std::string> names = namesIn(song.folder.path());
            if (c.kept) {
                ASSERT_EQ(names.size(), 2u);
                EXPECT_TRUE(dl::IsIdentityFileName(names[0])) << names[0];
                EXPECT_TRUE(dl::IsPartFileName(names[1])) << names[1];
                const auto identity = dl::ReadPartIdentity((song.folder.path() / names[1]).string());
                ASSERT_TRUE(identity);
                EXPECT_EQ(identity->held, fs::file_size(song.folder.path() / names[1]));
                EXPECT_EQ(identity->url, item.Request.URL);
                EXPECT_EQ(identity->name, "song.mp3");
                // What it holds is the start of the very file.
                std::string held(identity->held, '\0');
                std::FILE* in = std::fopen((song.folder.path() / names[1]).c_str(), "rb");
                ASSERT_NE(in, nullptr);
                EXPECT_EQ(std::fread(held.data(), 1, held.size(), in), held.size());
                std::fclose(in);
                EXPECT_EQ(held, kFile->substr(0, held.size()));
            } else {
                EXPECT_TRUE(names.empty()) << names.size();
            }
            continue;
        }
        EXPECT_EQ(item.Progress.State.load(), dl::dsFinished);
        const std::string& want = c.arrives == Arrives::Whole     ? *kFile
                                  : c.arrives == Arrives::Changed ? *kChangedFile
                                                                  : *kLongerFile;
        // Byte for byte, and so the length: a comparison of strings this long
        // would print them whole.
        EXPECT_EQ(item.Progress.Data.Size(), want.size());
        EXPECT_TRUE(item.Progress.Data.View() == want) << "the song arrived spliced";
        // The song's figures count the song, not the restarts.
        const auto reports = song.recorder.reportsOf(item);
        ASSERT_FALSE(reports.empty());
        for (const auto& report : reports) {
            if (report.headerPhase && report.size != want.size()) {
                EXPECT_EQ(report.size, kSize);
            }
        }
        if (c.continuations > 0) {
            std::uint32_t size = 0;
            std::int32_t percent = 0;
            for (const auto& report : reports) {
                if (report.headerPhase || report.state != dl::dsRunning) continue;
                EXPECT_GE(report.size, size);
                EXPECT_GE(report.percent, percent);
                size = report.size;
                percent = report.percent;
            }
            EXPECT_EQ(reports.back().size, kSize);
            EXPECT_EQ(reports.back().percent, 100);
        }
        item.ReleaseData();
        EXPECT_TRUE(namesIn(song.folder.path()).empty());
    }
}
