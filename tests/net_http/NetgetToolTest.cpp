// netget, built next to this test binary, with its size and time limits
// against servers that never stop sending or never answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RawAnswerCases.h"
#include "ScriptedHttpServer.h"
#include "tests/support/ToolRun.h"

namespace {

using nettest::Reply;
using nettest::ScriptedHttpServer;
using testsupport::ToolRun;

class NetgetTool : public ::testing::Test {
protected:
    void SetUp() override {
        tool_ = testsupport::toolNextToTests("netget");
        if (!std::filesystem::exists(tool_)) GTEST_SKIP() << "netget is not built next to the tests";
    }

    ToolRun run(const std::vector<std::string>& args) {
        ToolRun result = testsupport::runTool(tool_, args);
        EXPECT_TRUE(result.finished) << "netget did not finish";
        return result;
    }

    std::filesystem::path tool_;
};

TEST_F(NetgetTool, LimitsAreOffByDefaultAndAFailureWhenReached) {
    const std::string big(200000, 'b');
    Reply silent;
    silent.silent = true;
    ScriptedHttpServer server({
        Reply("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\nConnection: close\r\n\r\n" + big),
        // A body without end, as far as the client can tell: no length, no close.
        Reply("HTTP/1.1 200 OK\r\n\r\n" + std::string(8 << 20, 'x')),
        Reply("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\n"),
        silent,
        Reply("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"),
    });
    const std::string url = server.url("/");
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
        std::string err;
    } cases[] = {
        {{url}, 0, big, ""},
        {{"--max-size", "100000", url}, 1, "", "netget: " + url + ": body larger than --max-size 100000 bytes\n"},
        {{"--max-size", "100000", url}, 1, "", "netget: " + url + ": body larger than --max-size 100000 bytes\n"},
        {{"--max-time", "0.3", url}, 1, "", "netget: " + url + ": no complete answer within --max-time 0.3 s\n"},
        {{"--max-time", "5", "--max-size", "2", url}, 0, "ok", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        const ToolRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out.size(), c.out.size());
        EXPECT_TRUE(r.out == c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// Each raw answer of the table as the first of two URLs: the second shows
// whether netget's client took anything left on the connection for its
// answer, and which connection it went out on.
TEST_F(NetgetTool, RawAnswersKeptAndClosed) {
    for (const nettest::RawAnswerCase& c : nettest::rawAnswerCases()) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server(nettest::repliesFor(c));
        const std::string url = server.url(c.target);
        const ToolRun r = run({url, server.url("/next")});
        EXPECT_EQ(r.exitCode, c.failure.empty() ? 0 : 1);
        EXPECT_EQ(r.out, c.body + nettest::kNextBody);
        EXPECT_EQ(r.err, c.failure.empty() ? "" : "netget: " + url + ": " + c.failure + "\n");
        EXPECT_EQ(server.requestConnections(), (std::vector<int>{1, c.reused ? 1 : 2}));
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(nettest::requestLineOf(requests[0]), nettest::expectedRequestLine(c));
    }
}

TEST_F(NetgetTool, BadLimitsAreUsageErrors) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--max-size", "0", "http://127.0.0.1:1/"},
          {"--max-size", "1k", "http://127.0.0.1:1/"},
          {"--max-time", "soon", "http://127.0.0.1:1/"},
          {"--max-time", "-1", "http://127.0.0.1:1/"},
          {"http://127.0.0.1:1/", "--max-time"},
          {"--max-size", "10"},
          {"--no-such-option", "http://127.0.0.1:1/"}}) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("usage: netget [--max-size BYTES] [--max-time SECONDS] URL..."), std::string::npos)
            << r.err;
    }
}

}  // namespace
