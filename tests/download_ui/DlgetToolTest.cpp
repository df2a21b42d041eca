// dlget as a black box: its arguments, the lines it prints, its exit status,
// the files it leaves, and an interrupt in the middle of a download.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/RangeServer.h"
#include "tests/support/ScriptedTcpServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

extern char** environ;

namespace fs = std::filesystem;
using testsupport::ToolRun;
using uitest::filesIn;
using uitest::readFile;
using uitest::RouteServer;
using uitest::ScopedWorkDir;

namespace {

const std::string kSong = "dlget song bytes";

void routes(httplib::Server& server) {
    server.Get("/music/song.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content(kSong, "audio/mpeg"); });
    server.Get("/big.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(5000, 'b'), "audio/mpeg");
    });
    server.Get("/gallery.mp3", [](const httplib::Request&, httplib::Response& res) {
        std::string page;
        for (int i = 0; i < 150; ++i) page += "<img src=\"pic/" + std::to_string(i) + ".gif\">";
        res.set_content(page, "text/html");
    });
    server.Get(R"(/pic/(\d+)\.gif)", [](const httplib::Request&, httplib::Response& res) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        res.set_content("GIF89a", "image/gif");
    });
    server.Get("/empty.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "audio/mpeg"); });
    server.Get("/moved.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_content("moved", "text/plain");
    });
    server.Get("/large.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(300000, 'L'), "audio/mpeg");
    });
    server.Get("/old.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT");
        res.set_content(kSong, "audio/mpeg");
    });
    server.Get("/listen.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<body background=\"bg.gif\"><img src=\"pic.gif\"><frame src=\"frame.htm\">", "text/html");
    });
    server.Get("/bg.gif", [](const httplib::Request&, httplib::Response& res) { res.set_content("GIF89a", "image/gif"); });
    server.Get("/pic.gif", [](const httplib::Request&, httplib::Response& res) { res.set_content("GIF89a", "image/gif"); });
    server.Get("/frame.htm", [](const httplib::Request&, httplib::Response& res) { res.set_content("<p>", "text/html"); });
    server.Get("/slow.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1 << 20, "audio/mpeg", [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            static const std::string slice(16384, 'w');
            if (offset > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return sink.write(slice.data(), std::min(length, slice.size()));
        });
    });
}

class DlgetTool : public ::testing::Test {
protected:
    ToolRun dlget(std::vector<std::string> args) {
        return testsupport::runTool(testsupport::toolNextToTests("dlget"), args, std::chrono::seconds(20));
    }
    std::string line(const char* state, int code, const std::string& message, const std::string& file,
                     const std::string& path, int continued = 0) {
        return std::string(state) + "\t" + std::to_string(code) + "\t" + message + "\t" + file + "\t" +
               server_.url(path) + "\t" + std::to_string(continued) + "\n";
    }
    std::string saved(const std::string& name) const { return (work_.path() / "downmp3" / name).string(); }

    RouteServer server_{routes};
    ScopedWorkDir work_;
};

}  // namespace

TEST_F(DlgetTool, HelpAndUsageErrors) {
    const ToolRun help = dlget({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: dlget", 0), 0u) << help.out;
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--bogus", "http://h/x"},
        {"--name", "a.mp3", "http://h/x", "http://h/y"},
        {"--jobs", "0", "http://h/x"},
        {"--jobs", "31", "http://h/x"},
        {"--jobs", "two", "http://h/x"},
        {"--dir"},
        {"--dir", "", "http://h/x"},
        {"--size-limit", "x", "http://h/x"},
        {"--size-limit", "4294967296", "http://h/x"},
        {"--size-limit", "-1", "http://h/x"},
        {"--older", "-1", "http://h/x"},
        {"--older", "nan", "http://h/x"},
        {"--speed-limit", "x", "http://h/x"},
        {"--speed-limit", "-1", "http://h/x"},
        {"--speed-limit", "2147483648", "http://h/x"},
        {"--speed-time", "1.5", "http://h/x"},
        {"--speed-time"},
    };
    for (const auto& args : wrong) {
        const ToolRun run = dlget(args);
        EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(run.err.find("usage: dlget"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_FALSE(fs::exists(work_.path() / "downmp3"));
}

TEST_F(DlgetTool, OneLinePerItemAndTheExitStatus) {
    struct Case {
        std::vector<std::string> args;
        std::string path;
        int exitCode;
        std::vector<std::string> lines;  // made with line() below
        std::vector<std::string> files;  // in downmp3/
    };
    const std::vector<Case> cases = {
        {{}, "/music/song.mp3", 0, {line("finished", 0, "", saved("127.0.0.1_song.mp3"), "/music/song.mp3")},
         {"127.0.0.1_song.mp3"}},
        {{"--name", "AC/DC.mp3"}, "/music/song.mp3", 0,
         {line("finished", 0, "", saved("AC_DC.mp3"), "/music/song.mp3")}, {"AC_DC.mp3"}},
        {{}, "/missing.mp3", 1, {line("failed", 2, "File not found", "", "/missing.mp3")}, {}},
        {{"--size-limit", "4999"}, "/big.mp3", 1, {line("failed", 8, "Size limit", "", "/big.mp3")}, {}},
        {{"--size-limit", "5000"}, "/big.mp3", 0, {line("finished", 0, "", saved("127.0.0.1_big.mp3"), "/big.mp3")},
         {"127.0.0.1_big.mp3"}},
        {{"--older", "30"}, "/old.mp3", 1, {line("failed", 9, "URL is olded", "", "/old.mp3")}, {}},
        {{"--check-only"}, "/big.mp3", 0, {line("finished", 0, "", "", "/big.mp3")}, {}},
        // Finished without a file is no success; neither is a redirect without Location.
        {{}, "/empty.mp3", 1, {line("finished", 0, "", "", "/empty.mp3")}, {}},
        {{}, "/moved.mp3", 1, {line("failed", 2, "Redirect without location", "", "/moved.mp3")}, {}},
        {{"--name", "."}, "/music/song.mp3", 1, {line("failed", 13, "Invalid file name", "", "/music/song.mp3")}, {}},
        // No name is hidden, nor of the form of the program's own files (which
        // the next download into the folder would sweep away).
        {{"--name", ".brelvo-7.part"}, "/music/song.mp3", 0,
         {line("finished", 0, "", saved("_brelvo-7.part"), "/music/song.mp3")}, {"_brelvo-7.part"}},
        {{"--name", "a\nb.mp3"}, "/music/song.mp3", 0,
         {line("finished", 0, "", saved("a_b.mp3"), "/music/song.mp3")}, {"a_b.mp3"}},
        {{"--name", "t.mp3"}, "/listen.mp3", 0,
         {line("finished", 0, "", saved("t.mp3.htm"), "/listen.mp3"),
          line("finished", 0, "", saved("127.0.0.1_bg.gif"), "/bg.gif"),
          line("finished", 0, "", saved("127.0.0.1_frame.htm"), "/frame.htm")},
         {"127.0.0.1_bg.gif", "127.0.0.1_frame.htm", "t.mp3.htm"}},
        {{"--name", "t.mp3", "--load-images"}, "/listen.mp3", 0,
         {line("finished", 0, "", saved("t.mp3.htm"), "/listen.mp3"),
          line("finished", 0, "", saved("127.0.0.1_bg.gif"), "/bg.gif"),
          line("finished", 0, "", saved("127.0.0.1_pic.gif"), "/pic.gif"),
          line("finished", 0, "", saved("127.0.0.1_frame.htm"), "/frame.htm")},
         {"127.0.0.1_bg.gif", "127.0.0.1_frame.htm", "127.0.0.1_pic.gif", "t.mp3.htm"}},
    };
    for (const Case& c : cases) {
        fs::remove_all(work_.path() / "downmp3");
        std::vector<std::string> args = c.args;
        args.push_back(server_.url(c.path));
        const ToolRun run = dlget(args);
        ASSERT_TRUE(run.finished) << c.path;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.path << "\n" << run.err;
        std::string expected;
        for (const std::string& l : c.lines) expected += l;
        EXPECT_EQ(run.out, expected) << c.path;
        EXPECT_EQ(filesIn(work_.path() / "downmp3"), c.files) << c.path;
    }
    EXPECT_EQ(readFile(saved("127.0.0.1_bg.gif")), "GIF89a");
}

TEST_F(DlgetTool, ADirWithoutItsSeparatorStillNamesTheFolder) {
    const ToolRun run = dlget({"--dir", "songs/new", server_.url("/music/song.mp3")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFile(work_.path() / "songs/new/127.0.0.1_song.mp3"), kSong);
}

// A disk that fills up: the system's file size limit (the shell's ulimit
// -f, with its signal ignored) makes every write past it fail like one.
TEST_F(DlgetTool, ADiskThatFillsUpFailsTheDownloadAndKeepsTheOlderFile) {
    fs::create_directories(work_.path() / "downmp3");
    uitest::writeFile(work_.path() / "downmp3" / "kept.mp3", "older file");
    const ToolRun run = testsupport::runTool(
        "/bin/sh",
        {"-c", "ulimit -f 64 && trap '' XFSZ && exec \"$0\" \"$@\"", testsupport::toolNextToTests("dlget").string(),
         "--name", "kept.mp3", server_.url("/large.mp3")},
        std::chrono::seconds(20));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.out, line("failed", 10, "Disk full", "", "/large.mp3"));
    EXPECT_EQ(readFile(work_.path() / "downmp3" / "kept.mp3"), "older file");
    EXPECT_EQ(filesIn(work_.path() / "downmp3"), std::vector<std::string>{"kept.mp3"});
}

// Each signal that asks a program to end stops the download like Cancel,
// wherever it finds it: in the middle of the body, or in a name lookup that
// never ends. The test waits for the download to be there (its part file,
// the lookup's mark), never for a time.
TEST_F(DlgetTool, AnInterruptStopsTheDownloadWithoutAFile) {
    enum class Where { Reading, LookingUp, InPageMode };
    struct Case {
        const char* name;
        int signal;
        Where where;
    };
    const Case cases[] = {
        {"SIGTERM while reading", SIGTERM, Where::Reading},
        {"SIGINT while reading", SIGINT, Where::Reading},
        {"SIGHUP while reading", SIGHUP, Where::Reading},
        {"SIGTERM in a lookup that hangs", SIGTERM, Where::LookingUp},
        {"SIGHUP in a lookup that hangs", SIGHUP, Where::LookingUp},
        {"SIGINT in page mode", SIGINT, Where::InPageMode},
    };
    const fs::path preload = testsupport::toolNextToTests("libhanging_resolver.so");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir marks;
        const std::string mark = marks.file("lookup");
        testsupport::ScriptedTcpServer server(testsupport::ServerScript()
                                                  .expectUntil("\r\n\r\n")
                                                  .send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" +
                                                        std::string(40000, 'w'))
                                                  .hold());
        const std::string url = c.where == Where::Reading
                                    ? "http://127.0.0.1:" + std::to_string(server.port()) + "/slow.mp3"
                                : c.where == Where::LookingUp ? std::string("http://song.hang.test/slow.mp3")
                                                              : server_.url("/gallery.mp3");
        fs::remove_all(work_.path() / "downmp3");
        // The preloaded lookup goes before a sanitizer's runtime; it needs none.
        std::vector<std::string> args{url};
        if (c.where == Where::InPageMode) args.insert(args.begin(), "--load-images");
        testsupport::ToolProcess tool(testsupport::toolNextToTests("dlget"), args,
                                      {"LD_PRELOAD=" + preload.string(), "BRELVO_HANGING_RESOLVER_MARK=" + mark,
                                       "ASAN_OPTIONS=verify_asan_link_order=0"});
        ASSERT_TRUE(tool.started());
        const fs::path folder = work_.path() / "downmp3";
        const bool there = testsupport::waitFor(
            [&] {
                if (c.where == Where::LookingUp) return fs::exists(mark);
                // Page mode: the page and two of its pictures are saved.
                return filesIn(folder).size() >= (c.where == Where::Reading ? 1u : 3u);
            },
            std::chrono::seconds(20));
        if (!there && c.where == Where::LookingUp) {
            // The ThreadSanitizer runtime's own getaddrinfo comes first in a tool.
            tool.signal(SIGKILL);
            GTEST_SKIP() << "the preloaded lookup is not in force";
        }
        ASSERT_TRUE(there);
        const auto signalled = std::chrono::steady_clock::now();
        tool.signal(c.signal);
        ASSERT_TRUE(tool.waitForExit(std::chrono::seconds(20)));
        std::printf("    %s: ended %lld ms after the signal\n", c.name,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - signalled)
                                               .count()));
        EXPECT_TRUE(tool.exited()) << tool.termSignal();
        EXPECT_EQ(tool.exitCode(), 1);
        const auto names = filesIn(folder);
        if (c.where == Where::InPageMode) {
            // What was saved stays; the rest reads as stopped, and nothing hidden is left.
            const std::string out = tool.out();
            EXPECT_EQ(out.rfind("finished\t0\t\t" + (folder / "127.0.0.1_gallery.mp3.htm").string(), 0), 0u) << out;
            EXPECT_NE(out.find("failed\t6\tStopped\t\t"), std::string::npos) << out;
            EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".brelvo-", 0) == 0; }));
            continue;
        }
        EXPECT_EQ(tool.out(), "failed\t6\tStopped\t\t" + url + "\t0\n") << tool.err();
        // Hidden files included: nothing of the download stays.
        EXPECT_TRUE(names.empty());
    }
}

// Several URLs, N at a time: the server never holds more connections than
// N at once, each URL has its line in the order given (a later one that ends
// first waits for those before it), and one failure makes the exit status 1.
TEST_F(DlgetTool, SeveralUrlsNAtATimeEachWithItsLineInTheirOrder) {
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::patternBody(48 * 1024, 4), "\"s\"", ""};
    setup.holdAt = 4096;
    testsupport::RangeServer songs(setup);
    const auto url = [&](int n) { return songs.url("/song/" + std::to_string(n) + ".mp3"); };
    const std::vector<std::string> urls = {url(1), url(2), url(3), server_.url("/missing.mp3"), url(4)};
    std::vector<std::string> args = {"--jobs", "2"};
    args.insert(args.end(), urls.begin(), urls.end());
    testsupport::ToolProcess tool(testsupport::toolNextToTests("dlget"), args);
    ASSERT_TRUE(tool.started());
    ASSERT_TRUE(songs.waitForRequests(2, std::chrono::seconds(30)));
    // The second ends first; the third takes its slot; nothing is told yet,
    // since the first is still running.
    songs.release("/song/2.mp3");
    ASSERT_TRUE(songs.waitForRequests(3, std::chrono::seconds(30)));
    EXPECT_TRUE(tool.out().empty()) << tool.out();
    songs.release();
    ASSERT_TRUE(tool.waitForExit(std::chrono::seconds(30)));
    EXPECT_EQ(tool.exitCode(), 1) << tool.err();
    const auto saved = [&](int n) { return (work_.path() / "downmp3" / ("127.0.0.1_" + std::to_string(n) + ".mp3")).string(); };
    const std::string song = *setup.file.body;
    std::string expected;
    for (int n : {1, 2, 3}) expected += "finished\t0\t\t" + saved(n) + "\t" + url(n) + "\t0\n";
    expected += line("failed", 2, "File not found", "", "/missing.mp3");
    expected += "finished\t0\t\t" + saved(4) + "\t" + url(4) + "\t0\n";
    EXPECT_EQ(tool.out(), expected);
    for (int n : {1, 2, 3, 4}) EXPECT_EQ(readFile(saved(n)), song) << n;
    EXPECT_EQ(songs.maxOpenConnections(), 2u);
}

// A server that cannot serve for a moment gets the song asked again: at once
// when it says Retry-After 0, not at all with --no-retry, and never when it
// asks for more than a minute.
TEST_F(DlgetTool, AnAnswerForAMomentIsTriedAgain) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string retryAfter;
        int exitCode;
        std::string message;
        std::size_t requests;
    };
    const std::vector<Case> cases = {
        {"Retry-After 0", {}, "0", 0, "", 2},
        {"--no-retry", {"--no-retry"}, "0", 1, "Service unavailable", 1},
        {"Retry-After of two minutes", {}, "120", 1, "Service unavailable (Retry-After: 120 s)", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work_.path() / "downmp3");
        testsupport::RangeServer::Setup setup;
        setup.file = {std::make_shared<const std::string>(kSong), "", ""};
        setup.statusOf = {{0, 503}};
        setup.retryAfterOf = {{0, c.retryAfter}};
        testsupport::RangeServer busy(setup);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--name", "s.mp3", busy.url("/s.mp3")});
        const ToolRun run = dlget(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        const std::string file = c.exitCode == 0 ? saved("s.mp3") : std::string();
        EXPECT_EQ(run.out, std::string(c.exitCode == 0 ? "finished" : "failed") + "\t" +
                               std::to_string(c.exitCode == 0 ? 0 : 2) + "\t" + c.message + "\t" + file + "\t" +
                               busy.url("/s.mp3") + "\t0\n");
        EXPECT_EQ(busy.requestCount(), c.requests);
    }
}
