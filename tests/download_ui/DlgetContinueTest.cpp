// dlget continues a download where it stopped, says how often it did, and
// with --no-continue does neither that nor keep anything.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/ItemData.h"
#include "download/files/KeptPart.h"
#include "download/files/PartFile.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

namespace fs = std::filesystem;
using testsupport::RangeServer;
using testsupport::ToolRun;
using uitest::filesIn;
using uitest::readFile;
using uitest::ScopedWorkDir;

namespace {

constexpr std::uint64_t kSize = 1 << 20;
constexpr std::uint64_t kHeld = kSize * 3 / 10;
const auto kFile = testsupport::patternBody(kSize, 5);
const std::string kTag = "\"dl-1\"";

class DlgetContinue : public ::testing::Test {
protected:
    ToolRun dlget(std::vector<std::string> args, const RangeServer& server) {
        args.insert(args.begin(), {"--name", "song.mp3"});
        args.push_back(server.url("/song.mp3"));
        return testsupport::runTool(testsupport::toolNextToTests("dlget"), args, std::chrono::seconds(60));
    }
    std::string line(const char* state, int code, const std::string& message, bool written, const RangeServer& server,
                     int continued) const {
        return std::string(state) + "\t" + std::to_string(code) + "\t" + message + "\t" +
               (written ? file().string() : std::string()) + "\t" + server.url("/song.mp3") + "\t" +
               std::to_string(continued) + "\n";
    }
    fs::path folder() const { return work_.path() / "downmp3"; }
    fs::path file() const { return folder() / "song.mp3"; }
    std::size_t hidden() const {
        const auto names = filesIn(folder());
        return static_cast<std::size_t>(
            std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".brelvo-", 0) == 0; }));
    }

    ScopedWorkDir work_;
};

RangeServer::Setup cutOffOnce() {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    return setup;
}

}  // namespace

// The first run gives up at the drop (--no-retry) and keeps what it has;
// the next continues it.
TEST_F(DlgetContinue, AFailedDownloadIsContinuedByTheNextOne) {
    RangeServer server(cutOffOnce());
    const ToolRun first = dlget({"--no-retry"}, server);
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_EQ(first.out, line("failed", 12030, "Connection aborted", false, server, 0));
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(hidden(), 2u);

    const ToolRun second = dlget({}, server);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *kFile) << "the song arrived spliced";
    EXPECT_EQ(filesIn(folder()), std::vector<std::string>{"song.mp3"});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range.value_or(""), "bytes=" + std::to_string(kHeld) + "-");
}

TEST_F(DlgetContinue, ADropInTheMiddleIsContinuedInTheSameRun) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    RangeServer server(setup);
    const ToolRun run = dlget({"--retry-delay", "0"}, server);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *kFile);
}

TEST_F(DlgetContinue, NoContinueNeitherContinuesNorKeeps) {
    // A drop starts the song over; without further attempts it fails at
    // once. Nothing stays either way.
    {
        RangeServer server(cutOffOnce());
        const ToolRun run = dlget({"--no-continue", "--retry-delay", "0"}, server);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, line("finished", 0, "", true, server, 0));
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_FALSE(requests[1].range.has_value());
        EXPECT_TRUE(readFile(file()) == *kFile);
        EXPECT_EQ(hidden(), 0u);
        fs::remove(file());
    }
    {
        RangeServer server(cutOffOnce());
        const ToolRun run = dlget({"--no-continue", "--no-retry"}, server);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, line("failed", 12030, "Connection aborted", false, server, 0));
        EXPECT_EQ(server.requestCount(), 1u);
        EXPECT_EQ(hidden(), 0u);
    }
    // A part file kept before is not continued: the song comes whole, and
    // what was kept for it goes.
    RangeServer server(cutOffOnce());
    ASSERT_EQ(dlget({"--no-retry"}, server).exitCode, 1);
    ASSERT_EQ(hidden(), 2u);
    const ToolRun run = dlget({"--no-continue"}, server);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, line("finished", 0, "", true, server, 0));
    EXPECT_FALSE(server.requests().back().range.has_value());
    EXPECT_TRUE(readFile(file()) == *kFile);
    EXPECT_EQ(filesIn(folder()), std::vector<std::string>{"song.mp3"});
}

// Interrupted in the middle (SIGTERM while the server is silent), the
// download keeps what it has, and the next one continues from there.
TEST_F(DlgetContinue, AnInterruptedDownloadIsContinuedByTheNextOne) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    setup.drop = RangeServer::Drop::Stall;
    RangeServer server(setup);
    {
        testsupport::ToolProcess tool(testsupport::toolNextToTests("dlget"),
                                      {"--name", "song.mp3", server.url("/song.mp3")});
        ASSERT_TRUE(tool.started());
        // Its part file (and what identifies it) is there once it holds some bytes.
        ASSERT_TRUE(testsupport::waitFor([&] { return hidden() == 2; }, std::chrono::seconds(30)));
        tool.signal(SIGTERM);
        ASSERT_TRUE(tool.waitForExit(std::chrono::seconds(30)));
        EXPECT_EQ(tool.exitCode(), 1);
        EXPECT_EQ(tool.out(), line("failed", 6, "Stopped", false, server, 0));
    }
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(hidden(), 2u);
    const ToolRun run = dlget({}, server);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *kFile) << "the song arrived spliced";
    EXPECT_EQ(filesIn(folder()), std::vector<std::string>{"song.mp3"});
}

// Killed in the middle (SIGKILL: no word, no cleaning up), the download
// leaves its part file with what identifies it from the first byte on; the
// next run continues from what was written. The test waits on the server
// having sent the bytes and on the part file holding them, never on a time.
TEST_F(DlgetContinue, AKilledDownloadIsContinuedByTheNextOne) {
    constexpr std::uint64_t kBig = 6 << 20;
    constexpr std::uint64_t kSentBeforeTheKill = 3 << 20;
    const auto big = testsupport::patternBody(kBig, 9);
    RangeServer::Setup setup;
    setup.file = {big, kTag, ""};
    setup.holdAt = kSentBeforeTheKill;
    RangeServer server(setup);
    const auto partSize = [&]() -> std::uint64_t {
        for (const std::string& name : filesIn(folder())) {
            if (dl::IsPartFileName(name)) return fs::file_size(folder() / name);
        }
        return 0;
    };
    {
        testsupport::ToolProcess tool(testsupport::toolNextToTests("dlget"),
                                      {"--name", "song.mp3", server.url("/song.mp3")});
        ASSERT_TRUE(tool.started());
        ASSERT_TRUE(testsupport::waitFor([&] { return server.bodyBytesSent() >= kSentBeforeTheKill; },
                                         std::chrono::seconds(30)));
        // Written in pieces of the staging buffer: all but the last piece is
        // in the file by now.
        ASSERT_TRUE(testsupport::waitFor([&] { return partSize() >= kSentBeforeTheKill - dl::ItemData::kStaging; },
                                         std::chrono::seconds(30)));
        tool.signal(SIGKILL);
        ASSERT_TRUE(tool.waitForExit(std::chrono::seconds(30)));
        EXPECT_EQ(tool.termSignal(), SIGKILL);
        EXPECT_TRUE(tool.out().empty());
    }
    EXPECT_FALSE(fs::exists(file()));
    ASSERT_EQ(hidden(), 2u);
    const std::uint64_t written = partSize();
    EXPECT_LE(written, kSentBeforeTheKill);

    server.release();
    const ToolRun run = dlget({}, server);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *big) << "the song arrived spliced";
    EXPECT_EQ(filesIn(folder()), std::vector<std::string>{"song.mp3"});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range.value_or(""), "bytes=" + std::to_string(written) + "-");
    EXPECT_EQ(requests[1].ifRange.value_or(""), kTag);
}

// Two downloads of one folder at once (--jobs 2), each with a part file kept
// for it there: both are continued, every time. Each round starts from
// part files written as a program keeps them.
TEST_F(DlgetContinue, TwoJobsContinueBothKeptPartsEveryTime) {
    constexpr std::uint64_t kSmall = 8192, kSmallHeld = 3000;
    const auto small = testsupport::patternBody(kSmall, 6);
    RangeServer::Setup setup;
    setup.file = {small, kTag, ""};
    RangeServer server(setup);
    const std::vector<std::string> names = {"a.mp3", "b.mp3"};
    constexpr int kRounds = 100;
    int continuedBoth = 0;
    for (int round = 0; round < kRounds; ++round) {
        fs::remove_all(folder());
        fs::create_directories(folder());
        std::vector<std::string> args = {"--jobs", "2", "--dir", folder().string()};
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string url = server.url("/" + names[i]);
            const fs::path part = folder() / (".brelvo-" + std::to_string(i + 1) + ".part");
            uitest::writeFile(part, small->substr(0, kSmallHeld));
            uitest::writeFile(dl::IdentityPathOf(part.string()),
                              dl::EncodePartIdentity({url, "127.0.0.1_" + names[i], kTag, "", kSmall, kSmallHeld, ""}));
            args.push_back(url);
        }
        const ToolRun run =
            testsupport::runTool(testsupport::toolNextToTests("dlget"), args, std::chrono::seconds(60));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        bool both = true;
        for (const std::string& name : names) {
            const std::string file = (folder() / ("127.0.0.1_" + name)).string();
            both = both && run.out.find("\t" + file + "\t" + server.url("/" + name) + "\t1\n") != std::string::npos &&
                   readFile(file) == *small;
        }
        if (both) ++continuedBoth;
    }
    EXPECT_EQ(continuedBoth, kRounds);
}
