// dlget --one-song, run as a program against a loopback server: one song
// from its links, moving past a dead link and a page to the song.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/FolderListing.h"
#include "tests/support/MpegFrames.h"
#include "tests/support/ProbeServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

namespace {

using testsupport::ProbeServer;

constexpr std::chrono::seconds kRunLimit{60};

ProbeServer::Route route(int status, std::string body, std::string type = "audio/mpeg") {
    ProbeServer::Route r;
    r.status = status;
    r.body = std::move(body);
    r.contentType = std::move(type);
    r.etag = "\"e\"";
    return r;
}

std::string song(int frames) {
    std::string out;
    for (int i = 0; i < frames; ++i) out += probetest::frame(probetest::FrameSpec{}, 417);
    return out;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(DlgetOneSong, APageAndADeadLinkAreLeftForTheSong) {
    const std::string body = song(600);
    ProbeServer server({
        {"/dead.mp3", route(404, "no")},
        {"/page.mp3", route(200, "<html><body>File not found</body></html>", "text/html")},
        {"/song.mp3", route(200, body)},
    });
    const std::string dead = server.url("/dead.mp3"), page = server.url("/page.mp3"), live = server.url("/song.mp3");
    struct Case {
        const char* name;
        std::vector<std::string> links;
        std::string line;  // a saved song's without the file's path
        int exitCode;
        bool saved;
    };
    const std::vector<Case> cases = {
        {"dead first: the probes put the song before the page", {dead, page, live},
         "finished\t0\t\t" + live + "\t2", 0, true},
        {"a page first is not saved, the song next", {page, live}, "finished\t0\t\t" + live + "\t2", 0, true},
        {"a song of one link behaves as a plain download", {live}, "finished\t0\t\t" + live + "\t1", 0, true},
        {"no link is a song: each failure named", {page, dead},
         "failed\t15\tlink 1 Not MPEG audio: web page\t\t" + page + "\t1", 1, false},
        {"one dead link", {dead}, "failed\t2\tlink 1 HTTP 404\t\t" + dead + "\t1", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        std::vector<std::string> args = {"--one-song", "--dir", dir.path().string() + "/", "--name", "s.mp3"};
        args.insert(args.end(), c.links.begin(), c.links.end());
        const auto r = testsupport::runTool(testsupport::toolNextToTests("dlget"), args, kRunLimit);
        ASSERT_TRUE(r.finished) << r.err;
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        const std::string file = (dir.path() / "s.mp3").string();
        std::string line = r.out;
        if (c.saved) {
            // The line names the file written.
            const std::size_t at = line.find("\t" + file + "\t");
            ASSERT_NE(at, std::string::npos) << line;
            line.erase(at, file.size() + 1);
            EXPECT_EQ(fileText(file), body);
        }
        EXPECT_EQ(line, c.line + "\n");
        EXPECT_EQ(testsupport::namesIn(dir.path()), c.saved ? std::vector<std::string>{"s.mp3"}
                                                            : std::vector<std::string>{});
    }
}

TEST(DlgetOneSong, WrongArguments) {
    const auto tool = testsupport::toolNextToTests("dlget");
    EXPECT_EQ(testsupport::runTool(tool, {"--one-song"}, kRunLimit).exitCode, 2);
    EXPECT_EQ(testsupport::runTool(tool, {"--one-song", "--jobs", "2", "http://127.0.0.1:1/a"}, kRunLimit).exitCode, 2);
    EXPECT_EQ(testsupport::runTool(tool, {"--one-song", "--dir"}, kRunLimit).exitCode, 2);
    const auto help = testsupport::runTool(tool, {"--one-song", "--help"}, kRunLimit);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: dlget --one-song"), std::string::npos);
}
