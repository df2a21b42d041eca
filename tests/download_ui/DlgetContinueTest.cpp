// dlget continues a download where it stopped, says how often it did, and
// with --no-continue does neither that nor keep anything.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    setup.statusOf = {{1, 503}};
    return setup;
}

}  // namespace

TEST_F(DlgetContinue, AFailedDownloadIsContinuedByTheNextOne) {
    RangeServer server(cutOffOnce());
    const ToolRun first = dlget({}, server);
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_EQ(first.out, line("failed", 2, "Service unavailable", false, server, 0));
    EXPECT_FALSE(fs::exists(file()));
    EXPECT_EQ(hidden(), 2u);

    const ToolRun second = dlget({}, server);
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *kFile) << "the song arrived spliced";
    EXPECT_EQ(filesIn(folder()), std::vector<std::string>{"song.mp3"});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].range.value_or(""), "bytes=" + std::to_string(kHeld) + "-");
}

TEST_F(DlgetContinue, ADropInTheMiddleIsContinuedInTheSameRun) {
    RangeServer::Setup setup;
    setup.file = {kFile, kTag, ""};
    setup.dropAt = {kHeld};
    RangeServer server(setup);
    const ToolRun run = dlget({}, server);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, line("finished", 0, "", true, server, 1));
    EXPECT_TRUE(readFile(file()) == *kFile);
}

TEST_F(DlgetContinue, NoContinueNeitherContinuesNorKeeps) {
    // A drop fails it at once, and nothing stays.
    {
        RangeServer::Setup setup;
        setup.file = {kFile, kTag, ""};
        setup.dropAt = {kHeld};
        RangeServer server(setup);
        const ToolRun run = dlget({"--no-continue"}, server);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, line("failed", 12030, "Connection aborted", false, server, 0));
        EXPECT_EQ(server.requestCount(), 1u);
        EXPECT_EQ(hidden(), 0u);
    }
    // A part file kept before is not continued: the song comes whole, and
    // what was kept for it goes.
    RangeServer server(cutOffOnce());
    ASSERT_EQ(dlget({}, server).exitCode, 1);
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
        // Its part file is there once it holds some bytes.
        ASSERT_TRUE(testsupport::waitFor([&] { return hidden() == 1; }, std::chrono::seconds(30)));
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
