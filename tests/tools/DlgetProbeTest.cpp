// dlget --probe, run as a program against loopback servers.
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/MpegFrames.h"
#include "tests/support/ProbeServer.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

namespace {

using testsupport::ProbeServer;

constexpr std::chrono::seconds kRunLimit{60};

ProbeServer::Route route(int status, std::string body) {
    ProbeServer::Route r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

std::string song(int frames) {
    std::string out;
    for (int i = 0; i < frames; ++i) out += probetest::frame(probetest::FrameSpec{}, 417);
    return out;
}

std::vector<std::string> lines(const std::string& out) {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

TEST(DlgetProbe, OneLinePerUrlInOrder) {
    ProbeServer server({
        {"/song.mp3", route(200, song(1000))},
        {"/page.mp3", route(200, "<html><body>gone</body></html>")},
        {"/busy.mp3", route(503, "busy")},
    });
    const std::string song = server.url("/song.mp3"), page = server.url("/page.mp3"),
                      missing = server.url("/missing.mp3"), busy = server.url("/busy.mp3");
    const auto r = testsupport::runTool(testsupport::toolNextToTests("dlget"), {"--probe", missing, song, page, busy},
                                        kRunLimit);
    ASSERT_TRUE(r.finished) << r.err;
    EXPECT_EQ(r.exitCode, 1);
    const std::vector<std::string> expected = {
        "dead\t404\tHTTP 404\t-\t-\t-\t" + missing,
        "audio\t206\t\t417000\t128\t26.1\t" + song,
        "notaudio\t206\tweb page\t30\t-\t-\t" + page,
        "dead\t503\tHTTP 503\t-\t-\t-\t" + busy,
    };
    EXPECT_EQ(lines(r.out), expected);
    // Nothing more than the probe's one request each.
    EXPECT_EQ(server.requests().size(), 4u);

    const auto onlySongs =
        testsupport::runTool(testsupport::toolNextToTests("dlget"), {"--probe", song, song}, kRunLimit);
    EXPECT_EQ(onlySongs.exitCode, 0) << onlySongs.err;
    EXPECT_EQ(lines(onlySongs.out).size(), 2u);
}

TEST(DlgetProbe, TerminatedEveryUrlStillHasItsLine) {
    ProbeServer::Route silent = route(200, song(10));
    silent.delay = std::chrono::seconds(60);
    ProbeServer server({{"/silent.mp3", silent}, {"/song.mp3", route(200, song(10))}});
    const std::string quiet = server.url("/silent.mp3"), fine = server.url("/song.mp3");
    testsupport::ToolProcess dlget(testsupport::toolNextToTests("dlget"), {"--probe", fine, quiet});
    ASSERT_TRUE(dlget.started());
    // Once both requests are out, the one that answers has been judged or soon will be.
    ASSERT_TRUE(server.waitForRequests(2, kRunLimit));
    dlget.signal(SIGTERM);
    ASSERT_TRUE(dlget.waitForExit(kRunLimit));
    EXPECT_EQ(dlget.exitCode(), 1);
    const auto printed = lines(dlget.out());
    ASSERT_EQ(printed.size(), 2u) << dlget.out();
    EXPECT_EQ(printed[1], "dead\t12017\tOperation cancelled\t-\t-\t-\t" + quiet);
    EXPECT_TRUE(printed[0].ends_with("\t" + fine));
}

TEST(DlgetProbe, WrongArguments) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--probe"},
                                                 std::vector<std::string>{"--probe", "--jobs", "2", "http://x/"}}) {
        const auto r = testsupport::runTool(testsupport::toolNextToTests("dlget"), args, kRunLimit);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty());
    }
}

}  // namespace
