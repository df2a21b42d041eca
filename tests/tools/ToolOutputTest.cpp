// Every tool, run as a program, with an output that cannot be written or a
// standard descriptor closed at start.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/FolderListing.h"
#include "tests/support/ScriptedTcpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

namespace {

using testsupport::runTool;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
using testsupport::ToolRun;
using testsupport::ToolStream;
using testsupport::toolNextToTests;

constexpr std::chrono::seconds kRunLimit{60};

const char* const kTools[] = {"cutpage", "demo-service", "dlget", "mkstore", "netget", "pagelinks"};

// Where standard output goes, and what writing there ends in.
struct Output {
    const char* name;
    ToolStream stream;
    int error;  // 0: it is written
};

const Output kOutputs[] = {
    {"a file", ToolStream::Captured, 0},
    {"/dev/full", ToolStream::DevFull, ENOSPC},
    {"a pipe nobody reads", ToolStream::ClosedPipe, EPIPE},
    {"a closed descriptor", ToolStream::Closed, EBADF},
};

std::string lostOutput(const std::string& who, int error) {
    return who + ": cannot write to standard output: " + std::strerror(error) + "\n";
}

TEST(ToolOutput, AUsageThatCannotBeWrittenIsAFailureWithItsReason) {
    for (const std::string tool : kTools) {
        for (const Output& output : kOutputs) {
            SCOPED_TRACE(tool + " --help into " + output.name);
            const ToolRun r = runTool(toolNextToTests(tool), {"--help"}, kRunLimit, {output.stream});
            ASSERT_TRUE(r.finished);
            if (output.error == 0) {
                EXPECT_EQ(r.exitCode, 0);
                EXPECT_EQ(r.out.rfind("usage: " + tool, 0), 0u) << r.out;
                EXPECT_EQ(r.err, "");
            } else {
                EXPECT_EQ(r.exitCode, 1);
                EXPECT_EQ(r.err, lostOutput(tool, output.error));
            }
        }
    }
}

// A song is fetched and kept whatever becomes of the result line; a line
// nobody can read fails the run all the same.
TEST(ToolOutput, DlgetFailsWhenItsResultLineCannotBeWritten) {
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 4\r\nConnection: close\r\n\r\nsong";
    for (const Output& output : kOutputs) {
        SCOPED_TRACE(std::string("result line into ") + output.name);
        ScriptedTcpServer server(ServerScript().expectUntil("\r\n\r\n").send(answer).close());
        testsupport::TempDir dir;
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/song.mp3";
        const ToolRun r = runTool(toolNextToTests("dlget"), {"--dir", dir.file("dl"), url}, kRunLimit, {output.stream});
        ASSERT_TRUE(r.finished);
        EXPECT_EQ(testsupport::namesIn(dir.path() / "dl").size(), 1u);
        if (output.error == 0) {
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_EQ(r.out.rfind("finished\t0\t", 0), 0u) << r.out;
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err, lostOutput("dlget", output.error));
        }
    }
}

// Started with its standard output closed, netget's connection must not
// take that number: the page would be written back into it.
TEST(ToolOutput, NetgetWritesNoPageIntoItsConnection) {
    const std::string page = "<html>the page</html>";
    // Kept alive, so the connection is still open when the page is written.
    ScriptedTcpServer server(
        ServerScript()
            .expectUntil("\r\n\r\n")
            .send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n" + page)
            .waitForClose());
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/page.htm";
    const ToolRun r = runTool(toolNextToTests("netget"), {url}, kRunLimit, {ToolStream::Closed});
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, lostOutput("netget: " + url, EBADF));
    ASSERT_TRUE(server.waitUntilDone(std::chrono::seconds(30)));
    const std::string received = server.received(0);
    EXPECT_EQ(received.find("\r\n\r\n") + 4, received.size()) << "after the request: " << received;
}

}  // namespace
