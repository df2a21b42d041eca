// One item through a whole run against scripted loopback servers: what the
// item holds at the end, what the server was sent, and which reports came.
#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/DlHeaderParsing.h"
#include "download/engine/TDlDownloads.h"
#include "download/inet/InetErrors.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/HostileScripts.h"
#include "tests/support/ScriptedTcpServer.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;
using dltest::answer;
using dltest::answerInPieces;
using dltest::httpResponse;
using dltest::localUrl;
using dltest::OneItemRun;
using dltest::refusedPort;
using dltest::Recorder;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
namespace hostile = testsupport::hostile;

namespace {

struct Outcome {
    dl::TDlItemState state;
    std::int32_t code;
    std::string message;
    std::string data;
    std::int32_t status;
};

struct Case {
    const char* name;
    std::vector<ServerScript> scripts;
    std::function<void(dl::TDlDownloadItem&, int port)> setup;
    Outcome want;
};

void expectOutcome(const dl::TDlDownloadItem& item, const Outcome& want) {
    EXPECT_EQ(item.Progress.State.load(), want.state);
    EXPECT_EQ(item.Progress.ErrorCode, want.code);
    EXPECT_EQ(item.Progress.ErrorMessage, want.message);
    EXPECT_EQ(std::string(item.Progress.Data.View()), want.data);
    EXPECT_EQ(item.Progress.StatusCode, want.status);
    EXPECT_EQ(item.Progress.Percent.load(), 100);
}

void at(dl::TDlDownloadItem& item, int port, const std::string& path) { item.Request.URL = localUrl(port, path); }

}  // namespace

TEST(Transfer, OutcomesOfOneItem) {
    const std::string song = "ID3 pretend song bytes";
    const auto plain = [](const std::string& path) {
        return [path](dl::TDlDownloadItem& item, int port) { at(item, port, path); };
    };
    std::vector<Case> cases;
    cases.push_back({"200 with a length", {answer(httpResponse("200 OK", "Content-Type: audio/mpeg\r\n", song))},
                     plain("/a.mp3"), {dl::dsFinished, 0, "", song, 200}});
    cases.push_back({"200 without a length, ended by close",
                     {answer(httpResponse("200 OK", "", song, false))},
                     plain("/a.mp3"), {dl::dsFinished, 0, "", song, 200}});
    cases.push_back({"chunked body",
                     {answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nID3 \r\n12\r\npretend song bytes\r\n0\r\n\r\n")},
                     plain("/a.mp3"), {dl::dsFinished, 0, "", song, 200}});
    cases.push_back({"302 followed to the song",
                     {answer(httpResponse("302 Found", "Location: /real/a.mp3\r\n", "moved")),
                      answer(httpResponse("200 OK", "", song))},
                     plain("/a.mp3"), {dl::dsFinished, 0, "", song, 200}});
    cases.push_back({"302 kept with NoRedirect",
                     {answer(httpResponse("302 Found", "Location: /real/a.mp3\r\n", "moved"))},
                     [](dl::TDlDownloadItem& item, int port) {
                         at(item, port, "/a.mp3");
                         item.Request.NoRedirect = true;
                     },
                     {dl::dsFinished, 0, "", "moved", 302}});
    cases.push_back({"404 reads nothing", {answer(httpResponse("404 Not Found", "", "no such song"))},
                     plain("/a.mp3"), {dl::dsFailed, 2, "File not found", "", 404}});
    cases.push_back({"a status the table lacks", {answer(httpResponse("599 Odd", "", "odd"))}, plain("/a.mp3"),
                     {dl::dsFailed, 2, "HTTP Error: 599", "", 599}});
    cases.push_back({"content type outside the accept types",
                     {answer(httpResponse("200 OK", "Content-Type: text/html\r\n", "<html>"))},
                     [](dl::TDlDownloadItem& item, int port) {
                         at(item, port, "/a.mp3");
                         item.Request.AcceptTypes = "audio/mpeg\r\naudio/x-mp3";
                     },
                     {dl::dsFailed, 412, "Precond failed", "", 200}});
    cases.push_back({"content type among the reject types",
                     {answer(httpResponse("200 OK", "Content-Type: Text/HTML\r\n", "<html>"))},
                     [](dl::TDlDownloadItem& item, int port) {
                         at(item, port, "/a.mp3");
                         item.Request.RejectTypes = {"text/html"};
                     },
                     {dl::dsFailed, 412, "Precond failed", "", 200}});
    cases.push_back({"body shorter than its length",
                     {hostile::sendsAndCloses("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")},
                     plain("/a.mp3"), {dl::dsFailed, 12030, "Connection aborted", "0123456789", 200}});
    cases.push_back({"connection reset in the middle",
                     {ServerScript()
                          .expectUntil("\r\n\r\n")
                          .send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'x'))
                          .pause(300ms)
                          .reset()},
                     plain("/a.mp3"), {dl::dsFailed, 12031, "Connection reset", std::string(5000, 'x'), 200}});
    cases.push_back({"a reply that is no HTTP", {answer("garbage\r\n\r\n")}, plain("/a.mp3"),
                     {dl::dsFailed, 12152, "Internet Error: 12152", "", 0}});
    cases.push_back({"announced length past 4 GiB - 1",
                     {answer("HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\nabc")}, plain("/a.mp3"),
                     {dl::dsFailed, 12030, "Connection aborted", "", 200}});
    cases.push_back({"refused port", {},
                     [](dl::TDlDownloadItem& item, int) { item.Request.URL = localUrl(refusedPort(), "/a.mp3"); },
                     {dl::dsFailed, 12029, "Cannot connect", "", 0}});
    cases.push_back({"empty URL", {}, [](dl::TDlDownloadItem& item, int) { item.Request.URL = ""; },
                     {dl::dsFailed, 12006, "Unrecognized scheme", "", 0}});
    cases.push_back({"scheme not fetched", {}, [](dl::TDlDownloadItem& item, int) { item.Request.URL = "gopher://127.0.0.1/x"; },
                     {dl::dsFailed, 12006, "Unrecognized scheme", "", 0}});
    cases.push_back({"check-only reads no body",
                     {answer(httpResponse("200 OK", "", song))},
                     [](dl::TDlDownloadItem& item, int port) {
                         at(item, port, "/a.mp3");
                         item.Request.CheckOnly = true;
                     },
                     {dl::dsFinished, 0, "", "", 200}});

    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ScriptedTcpServer> server;
        if (!c.scripts.empty()) server = std::make_unique<ScriptedTcpServer>(c.scripts);
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        // The outcome of one attempt (trying again is ItemAttemptsTest's).
        downloads.Attempts.maxFurther = 0;
        c.setup(item, server ? server->port() : 0);
        ASSERT_TRUE(recorder.runToEnd());
        expectOutcome(item, c.want);
        EXPECT_EQ(recorder.allDone(), 1);
        // A failed item gets its end report too; only a stopped one does not.
        const auto reports = recorder.reportsOf(item);
        ASSERT_GE(reports.size(), 2u);
        EXPECT_EQ(reports.front().state, dl::dsRunning);
        EXPECT_EQ(reports.back().state, c.want.state);
        EXPECT_TRUE(reports.back().onUiThread);
        if (server) {
            EXPECT_TRUE(server->failures().empty()) << server->failures().front();
        }
    }
}

TEST(Transfer, HeadersAndCheckOnlyLeaveTheAnnouncedSize) {
    ScriptedTcpServer server(answer(httpResponse(
        "200 OK",
        "Content-Type:  audio/mpeg \r\nLast-Modified: Tue, 15 Nov 1994 08:12:31 GMT\r\n"
        "Set-Cookie: s=1; Path=/; HttpOnly\r\nSet-Cookie: t=2; expires=Wed, 09 Jun 2021 10:18:14 GMT\r\n",
        "0123456789")));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    run.item.Request.CheckOnly = true;
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(run.item.Progress.Size.load(), 10u);
    EXPECT_EQ(run.item.Progress.ContentType, "audio/mpeg");
    EXPECT_EQ(run.item.Progress.Location, run.item.Request.URL);
    EXPECT_DOUBLE_EQ(run.item.Progress.Date, dl::ParseLastModified("Tue, 15 Nov 1994 08:12:31 GMT"));
    EXPECT_EQ(run.item.Progress.ReceivedCookies.Entries(), (std::vector<std::string>{"s=1", "HttpOnly", "t=2"}));
    EXPECT_EQ(run.item.Progress.Data.Size(), 0u);
}

TEST(Transfer, ReportsAtStartAfterHeadersWhileReadingAndAtTheEnd) {
    ScriptedTcpServer server(answerInPieces("HTTP/1.1 200 OK\r\nContent-Length: 300\r\n\r\n",
                                            {std::string(100, 'a'), std::string(100, 'b'), std::string(100, 'c')},
                                            700ms));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    ASSERT_TRUE(run.run());
    const auto reports = run.recorder.reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[0].state, dl::dsRunning);  // start
    EXPECT_FALSE(reports[0].headerPhase);
    EXPECT_TRUE(reports[1].headerPhase);          // after the headers: the announced length
    EXPECT_EQ(reports[1].size, 300u);
    EXPECT_EQ(reports[2].size, 100u);             // while reading: bytes so far
    EXPECT_EQ(reports[2].percent, 33);
    EXPECT_EQ(reports[3].percent, 67);
    EXPECT_EQ(reports[4].percent, 100);
    EXPECT_FALSE(reports[4].headerPhase);
    EXPECT_EQ(reports[5].state, dl::dsFinished);  // end
    EXPECT_EQ(std::string(run.item.Progress.Data.View()), std::string(100, 'a') + std::string(100, 'b') + std::string(100, 'c'));
}

TEST(Transfer, WithoutALengthPercentStaysZeroUntilTheEnd) {
    ScriptedTcpServer server(answerInPieces("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n",
                                            {std::string(100, 'a'), std::string(100, 'b')}, 700ms));
    OneItemRun run(localUrl(server.port(), "/a.mp3"));
    ASSERT_TRUE(run.run());
    const auto reports = run.recorder.reports();
    ASSERT_GE(reports.size(), 4u);
    for (std::size_t i = 0; i + 1 < reports.size(); ++i) EXPECT_EQ(reports[i].percent, 0) << i;
    EXPECT_EQ(reports.back().percent, 100);
    EXPECT_EQ(run.item.Progress.Size.load(), 200u);
}

TEST(Transfer, SendsPathQueryCookiesRefererAndAgent) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "ok")));
    OneItemRun run;
    // As cut from a page: a blank at the end, UTF-8 in the store, a fragment.
    run.item.Request.URL = " " + localUrl(server.port(), "/\xE6\xAD\x8C \xE6\x9B\xB2.mp3?id=7#top") + " \t";
    run.item.Request.SendCookies.Add("a=1");
    run.item.Request.SendCookies.Add("path=/");
    run.item.Request.SendCookies.Add("b=2");
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished);
    const std::string request = server.received();
    EXPECT_EQ(request.rfind("GET /%B8%E8%20%C7%FA.mp3?id=7 HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nCookie: a=1; b=2\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nReferer: /%B8%E8%20%C7%FA.mp3\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)\r\n"), std::string::npos);
}

TEST(Transfer, PostsItsBodyAsAForm) {
    ScriptedTcpServer server(
        ServerScript().expectUntil("\r\n\r\n").expect("x=1&y=2").send(httpResponse("200 OK", "", "done")));
    OneItemRun run(localUrl(server.port(), "/form"));
    run.item.Request.Method = dl::dmPost;
    run.item.Request.PostData = std::string("x=1&y=2");
    run.item.Request.Referer = "http://example.org/page";
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished);
    const std::string request = server.received();
    EXPECT_EQ(request.rfind("POST /form HTTP/1.1\r\n", 0), 0u) << request;
    EXPECT_NE(request.find("\r\nCONTENT-TYPE:application/x-www-form-urlencoded\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nReferer: http://example.org/page\r\n"), std::string::npos) << request;
    EXPECT_TRUE(server.failures().empty());
}

TEST(Transfer, LimitsSetAfterTheHeadersStopTheItemWithoutAnEndReport) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", std::string(5000, 'x'))));
    OneItemRun run;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    recorder.onItem = [](dl::TDlDownloadItem& item) {
        if (item.Progress.HeaderPhase && item.Progress.Size > 1000u) {
            item.SetStopped(true);
            item.FailItem(8, "Size limit");
        }
    };
    item.Request.URL = localUrl(server.port(), "/a.mp3");
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
    EXPECT_EQ(item.Progress.ErrorCode, 8);
    EXPECT_EQ(item.Progress.ErrorMessage, "Size limit");
    EXPECT_EQ(item.Progress.Data.Size(), 0u);
    EXPECT_EQ(recorder.reportsOf(item).size(), 2u);  // start and after headers only
    EXPECT_EQ(recorder.allDone(), 1);
}

TEST(Transfer, AHandlerThatThrowsDoesNotDisturbTheTransfer) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "abc")));
    OneItemRun run;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    recorder.onItem = [](dl::TDlDownloadItem&) { throw std::runtime_error("handler failed"); };
    item.Request.URL = localUrl(server.port(), "/a.mp3");
    ASSERT_TRUE(recorder.runToEnd());
    EXPECT_EQ(item.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(std::string(item.Progress.Data.View()), "abc");
}

TEST(Transfer, NotConnectedFailsWithoutTryingUnlessForcedOrLocal) {
    ScriptedTcpServer server(answer(httpResponse("200 OK", "", "abc")));
    dl::TDlInternetOptions::SetConnectedStateQuery([] { return false; });
    struct Case {
        const char* host;
        bool force;
        std::int32_t code;
    };
    // 127.0.0.2 is loopback but not a local name, and nobody listens there.
    const Case cases[] = {{"127.0.0.2", false, 2}, {"127.0.0.2", true, 12029}, {"127.0.0.1", false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + (c.force ? " forced" : ""));
        OneItemRun run;
        dl::TDlDownloads& downloads = run.downloads;
        dltest::Recorder& recorder = run.recorder;
        dl::TDlDownloadItem& item = run.item;
        dl::TDlInternetOptions options;
        options.ForceInternetCheck = c.force;
        downloads.SetOptions(options);
        item.Request.URL = "http://" + std::string(c.host) + ":" + std::to_string(server.port()) + "/a.mp3";
        ASSERT_TRUE(recorder.runToEnd());
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        if (c.code == 2) {
            EXPECT_EQ(item.Progress.ErrorMessage, "Not connected");
        }
    }
    dl::TDlInternetOptions::SetConnectedStateQuery(nullptr);
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(Transfer, FileUrlsReadTheLocalFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("song.mp3");
    std::ofstream(path, std::ios::binary) << "local song";
    OneItemRun run("FILE://" + path);
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(std::string(run.item.Progress.Data.View()), "local song");
    EXPECT_GT(run.item.Progress.Date, 0.0);
    EXPECT_EQ(run.recorder.reportsOf(run.item)[1].size, 10u);  // the file's size after the headers
}

namespace {

// The start of an FTP control connection, as curl logs in anonymously.
ServerScript ftpLogin() {
    return ServerScript()
        .send("220 ready\r\n")
        .expect("USER anonymous\r\n")
        .send("331 ok\r\n")
        .expect("PASS ftp@example.com\r\n")
        .send("230 ok\r\n")
        .expect("PWD\r\n")
        .send("257 \"/\"\r\n");
}

}  // namespace

TEST(Transfer, FtpLooksTheFileUpThenReadsIt) {
    ScriptedTcpServer data(ServerScript().send("0123456789").close());
    ScriptedTcpServer control(std::vector<ServerScript>{
        ftpLogin()
            .expect("MDTM a.mp3\r\n").send("213 19941115081231\r\n")
            .expect("TYPE I\r\n").send("200 ok\r\n")
            .expect("SIZE a.mp3\r\n").send("213 10\r\n")
            .expect("REST 0\r\n").send("350 ok\r\n")
            .expect("QUIT\r\n").send("221 bye\r\n"),
        ftpLogin()
            .expect("EPSV\r\n").send("229 Entering Extended Passive Mode (|||" + std::to_string(data.port()) + "|)\r\n")
            .expect("TYPE I\r\n").send("200 ok\r\n")
            .expect("SIZE a.mp3\r\n").send("213 10\r\n")
            .expect("RETR a.mp3\r\n").send("150 here\r\n")
            .pause(100ms)
            .send("226 done\r\n")
            .expect("QUIT\r\n").send("221 bye\r\n")});
    OneItemRun run("ftp://127.0.0.1:" + std::to_string(control.port()) + "/a.mp3");
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFinished) << run.item.Progress.ErrorCode << " " << run.item.Progress.ErrorMessage;
    EXPECT_EQ(std::string(run.item.Progress.Data.View()), "0123456789");
    EXPECT_DOUBLE_EQ(run.item.Progress.Date, dl::ParseLastModified("Tue, 15 Nov 1994 08:12:31 GMT"));
    EXPECT_EQ(run.recorder.reportsOf(run.item)[1].size, 10u);  // the size looked up, after the headers
    ASSERT_TRUE(control.waitUntilDone(5s));
    EXPECT_TRUE(control.failures().empty()) << control.failures().front();
}

TEST(Transfer, FtpCheckOnlyOfAMissingFileFailsWithTheServersReply) {
    ScriptedTcpServer control(ftpLogin()
                                  .expect("MDTM a.mp3\r\n").send("550 No such file\r\n")
                                  .expect("TYPE I\r\n").send("200 ok\r\n")
                                  .expect("SIZE a.mp3\r\n").send("550 No such file\r\n")
                                  .expect("QUIT\r\n").send("221 bye\r\n"));
    OneItemRun run("ftp://127.0.0.1:" + std::to_string(control.port()) + "/a.mp3");
    run.item.Request.CheckOnly = true;
    ASSERT_TRUE(run.run());
    EXPECT_EQ(run.item.Progress.State.load(), dl::dsFailed);
    EXPECT_EQ(run.item.Progress.ErrorCode, 12003);
    EXPECT_EQ(run.item.Progress.ErrorMessage, "550 No such file");
    EXPECT_EQ(control.connectionCount(), 1u);
}
