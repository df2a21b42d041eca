// The client against hostile and careless servers on loopback: heads without
// end, lying or conflicting lengths, odd chunk sizes, interim answers, dates
// nobody reads, cookies by the thousand, and kept connections the server
// drops. Every wait is bounded.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "ScriptedHttpServer.h"
#include "http/NetHTTP.h"
#include "tests/support/ScriptedTcpServer.h"

namespace net {
namespace {

using nettest::Reply;
using nettest::ScriptedHttpServer;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
using namespace std::chrono_literals;

std::string ok(const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders +
           "\r\n" + body;
}

std::string repeated(int count, const std::string& text) {
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

// Set-Cookie lines name0=v ... name<count-1>=v, all for path "/".
std::string setCookies(const std::string& name, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += "Set-Cookie: " + name + std::to_string(i) + "=v; path=/\r\n";
    return out;
}

class HttpHostile : public ::testing::Test {
protected:
    HttpHostile() { ApplyProgramSettings(http); }

    // Runs `call` on another thread; a call still running after ten seconds
    // is interrupted and counts as a failure of the test.
    template <class Call>
    void bounded(Call&& call) {
        auto pending = std::async(std::launch::async, std::forward<Call>(call));
        if (pending.wait_for(10s) != std::future_status::ready) {
            http.Interrupt();
            ADD_FAILURE() << "the call did not end on its own";
        }
        pending.get();
    }

    // The exception a bounded Get of `url` (into `content`, if given) ends in.
    template <class Exception>
    Exception failureOf(const std::string& url, TNetStream* content = nullptr) {
        try {
            bounded([&] { content ? http.Get(url, *content) : (void)http.Get(url); });
        } catch (const Exception& e) {
            return e;
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected failure: " << e.what();
            throw;
        }
        ADD_FAILURE() << "no failure";
        throw std::logic_error("no failure");
    }

    TNetHTTP http;
};

// ---- heads -------------------------------------------------------------------

TEST_F(HttpHostile, AHeadWithinItsBoundsIsRead) {
    ScriptedHttpServer server({ok("page", repeated(TNetHTTP::kMaxHeaderLines - 1, "X-A: 1\r\n"))});
    EXPECT_EQ(http.Get(server.url("/")), "page");
    EXPECT_EQ(http.Response().RawHeaders.count(), TNetHTTP::kMaxHeaderLines);
}

TEST_F(HttpHostile, AHeadBeyondItsBoundsFailsAtOnceAndDropsTheConnection) {
    const std::string status = "HTTP/1.1 200 OK\r\n";
    const struct {
        const char* name;
        std::string head;  // the server then holds the connection
    } cases[] = {
        {"header lines that never end", status + repeated(TNetHTTP::kMaxHeaderLines + 1, "X-A: 1\r\n")},
        {"header bytes beyond the bound", status + repeated(17, "X-Pad: " + std::string(16000, 'p') + "\r\n")},
        {"interim answers without end", repeated(20000, "HTTP/1.1 100 Continue\r\n\r\n")},
        {"80,000 cookies in one answer", status + setCookies("c", 80000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server({Reply(c.head), ok("next")});
        const auto e = failureOf<ENetResponseHeadTooLarge>(server.url("/"));
        EXPECT_EQ(e.Message(), "Response head too large.");
        EXPECT_FALSE(http.IsConnected());
        EXPECT_TRUE(!http.CookieManager() || http.CookieManager()->CookieCollection().count() == 0);
        EXPECT_EQ(http.Get(server.url("/")), "next");
        EXPECT_EQ(server.connectionCount(), 2);
    }
}

// ---- lengths -------------------------------------------------------------------

TEST_F(HttpHostile, LengthsThatCannotFrameTheBodyFailAndDropTheConnection) {
    // What follows a bad length must never pass for the next URL's answer.
    const std::string smuggled = "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nforged!";
    for (const char* lengths : {"Content-Length: 5\r\nContent-Length: 50\r\n", "Content-Length: 5, 50\r\n",
                                "Content-Length: -5\r\n", "Content-Length: 5 bytes\r\n"}) {
        SCOPED_TRACE(lengths);
        ScriptedHttpServer server(
            {Reply(std::string("HTTP/1.1 200 OK\r\n") + lengths + "\r\nhello" + smuggled), ok("fresh")});
        EXPECT_THROW(bounded([&] { http.Get(server.url("/")); }), ENetInvalidContentLength);
        EXPECT_FALSE(http.IsConnected());
        EXPECT_EQ(http.Get(server.url("/")), "fresh");
        EXPECT_EQ(server.connectionCount(), 2);
    }
}

TEST_F(HttpHostile, AHugeLengthWithAShortBodyIsAnErrorNotAShortSuccess) {
    Reply reply("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\nabc");
    reply.closeAfter = true;
    ScriptedHttpServer server({reply});
    EXPECT_THROW(bounded([&] { http.Get(server.url("/")); }), ENetConnClosedGracefully);
}

TEST_F(HttpHostile, ALengthBeyondTheStreamLimitFailsBeforeReading) {
    // No body follows: reading any of it would wait for good.
    ScriptedHttpServer server({Reply("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\n"),
                               Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                     "00000000000000007fffffffffffffff\r\n")});
    for (int call = 0; call < 2; ++call) {
        TNetLimitedMemoryStream page(1 << 20);
        EXPECT_EQ(failureOf<ENetStreamLimitExceeded>(server.url("/"), &page).Limit(), 1 << 20);
        EXPECT_EQ(page.Size(), 0);
        EXPECT_FALSE(http.IsConnected());
    }
}

TEST_F(HttpHostile, ErrorBodiesAreReadOnlyUpToTheLimit) {
    http.UnusedBodyLimit = 1000;
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 404 Not Found\r\nContent-Length: 2000000000\r\n\r\nabc"),
         // Without a length the body would be read until a close that never comes.
         Reply("HTTP/1.1 500 Oops\r\n\r\n" + std::string(100000, 'e')), ok("after")});
    auto e = failureOf<ENetHTTPProtocolException>(server.url("/"));
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyBody(), "");
    EXPECT_FALSE(http.IsConnected());
    e = failureOf<ENetHTTPProtocolException>(server.url("/"));
    EXPECT_EQ(e.ReplyCode(), 500);
    EXPECT_LE(e.ReplyBody().size(), 1000u);
    EXPECT_EQ(e.ReplyBody(), std::string(e.ReplyBody().size(), 'e'));
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/")), "after");
}

// ---- chunks ------------------------------------------------------------------

TEST_F(HttpHostile, ChunkSizesAreReadByValue) {
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
               "000000005\r\nhello\r\n0000000000000000000000000000A;x=1\r\n, world!!!\r\n00\r\n\r\n"),
         ok("same connection")});
    EXPECT_EQ(http.Get(server.url("/")), "hello, world!!!");
    EXPECT_EQ(http.Get(server.url("/")), "same connection");
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(HttpHostile, ChunkSizesBeyond63BitsAndEndlessTrailersFail) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    ScriptedHttpServer server({Reply(chunked + "8000000000000000\r\n"),
                               Reply(chunked + "10000000000000000\r\n"),
                               Reply(chunked + "0\r\n" + repeated(TNetHTTP::kMaxHeaderLines + 1, "X-T: 1\r\n")),
                               ok("fine")});
    for (const char* size : {"8000000000000000", "10000000000000000"}) {
        const auto e = failureOf<ENetException>(server.url("/"));
        EXPECT_EQ(e.Message(), std::string("Invalid chunk size: ") + size);
    }
    EXPECT_THROW(bounded([&] { http.Get(server.url("/")); }), ENetResponseHeadTooLarge);
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/")), "fine");
}

// ---- interim answers ------------------------------------------------------------

TEST_F(HttpHostile, InterimAnswersBeforeTheAnswerAreSkipped) {
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
               "HTTP/1.1 199 Misc\r\n\r\n" + ok("page")),
         ok("kept")});
    EXPECT_EQ(http.Get(server.url("/")), "page");
    EXPECT_EQ(http.Response().StatusCode(), 200);
    EXPECT_EQ(http.Get(server.url("/")), "kept");
    EXPECT_EQ(server.connectionCount(), 1);
}

// ---- headers nobody needs ---------------------------------------------------------

TEST_F(HttpHostile, DateHeadersThatDoNotParseNeverCostThePage) {
    std::vector<Reply> replies;
    for (const char* dates : {"Expires: 86400\r\n", "Expires: -5\r\n", "Expires: never\r\n",
                              "Date: someday\r\nLast-Modified: Sun, 31 Feb 1994 08:49:37 GMT\r\n"})
        replies.emplace_back(ok("page", dates));
    ScriptedHttpServer server(replies);
    for (std::size_t i = 0; i < replies.size(); ++i) EXPECT_EQ(http.Get(server.url("/")), "page");
    EXPECT_EQ(http.Response().Date, 0);
    EXPECT_EQ(http.Response().LastModified, 0);
}

// ---- cookies -------------------------------------------------------------------

TEST_F(HttpHostile, ThousandsOfCookiesLeaveABoundedStoreAndOneCookieLine) {
    const int perAnswer = TNetHTTP::kMaxHeaderLines - 1;
    ScriptedHttpServer server({ok("1", setCookies("a", perAnswer)), ok("2", setCookies("b", perAnswer)), ok("3")});
    http.Get(server.url("/"));
    http.Get(server.url("/"));
    http.Get(server.url("/"));
    EXPECT_EQ(http.CookieManager()->CookieCollection().count(), TNetCookies::kMaxCookiesPerDomain);

    // The newest fifty, newest first, on one line.
    std::string expected;
    for (int i = perAnswer - 1; i >= perAnswer - TNetCookies::kMaxCookiesPerDomain; --i)
        expected += (expected.empty() ? "b" : "; b") + std::to_string(i) + "=v";
    const std::string request = server.requests().at(2);
    EXPECT_NE(request.find("\r\nCookie: " + expected + "\r\n"), std::string::npos) << request;
}

TEST_F(HttpHostile, ACookieHeaderOver1024BytesStaysOneLine) {
    std::string cookies;
    for (int i = 0; i < 30; ++i) cookies += "Set-Cookie: k" + std::to_string(i) + "=" + std::string(60, 'v') + "; path=/\r\n";
    ScriptedHttpServer server({ok("1", cookies), ok("2")});
    http.Get(server.url("/"));
    http.Get(server.url("/"));
    const std::string request = server.requests().at(1);
    const std::size_t start = request.find("\r\nCookie: ");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = request.find("\r\n", start + 2);
    EXPECT_GT(end - start, 1024u);
    EXPECT_EQ(request.substr(end), "\r\n\r\n");
}

// ---- kept connections the server drops ------------------------------------------------

ServerScript answers(const std::vector<std::string>& bodies) {
    ServerScript script;
    for (const std::string& body : bodies) script.expectUntil("\r\n\r\n").send(ok(body));
    return script;
}

TEST_F(HttpHostile, AKeptConnectionResetWhileIdleIsReplacedBeforeSending) {
    ScriptedTcpServer server({answers({"one"}).pause(50ms).reset(), answers({"two"}).hold()});
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    EXPECT_EQ(http.Get(url), "one");
    ASSERT_TRUE(server.waitForConnections(1, 5s));
    std::this_thread::sleep_for(150ms);  // the reset has come by now
    EXPECT_EQ(http.Get(url), "two");
    EXPECT_EQ(server.connectionCount(), 2u);
    EXPECT_TRUE(server.failures().empty());
}

TEST_F(HttpHostile, ARequestDroppedBeforeAnyAnswerIsSentOnceMoreOnANewConnection) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        ServerScript first = answers({"one"});
        first.expectUntil("\r\n\r\n");
        reset ? first.reset() : first.close();
        ScriptedTcpServer server({first, answers({"two"}).hold()});
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
        EXPECT_EQ(http.Get(url), "one");
        EXPECT_EQ(http.Get(url), "two");
        EXPECT_EQ(server.connectionCount(), 2u);
        EXPECT_TRUE(server.failures().empty());
        http.CloseConnection();
    }
}

TEST_F(HttpHostile, NoSecondResend) {
    ServerScript first = answers({"one"});
    first.expectUntil("\r\n\r\n").close();
    ScriptedTcpServer server({first, ServerScript().expectUntil("\r\n\r\n").close(), answers({"three"})});
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    EXPECT_EQ(http.Get(url), "one");
    EXPECT_THROW(http.Get(url), ENetConnClosedGracefully);
    EXPECT_EQ(server.connectionCount(), 2u);
}

TEST_F(HttpHostile, NotSentAgainWhenTheAnswerHadBegunOrTheRequestWasNotIdempotent) {
    const struct {
        const char* name;
        std::string partialAnswer;
        TNetHTTPMethod method;
    } cases[] = {{"answer begun", "HTTP/1.1 2", hmGet}, {"post", "", hmPost}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServerScript first = answers({"one"});
        first.expectUntil("\r\n\r\n").send(c.partialAnswer).close();
        ScriptedTcpServer server({first, answers({"two"}).hold()});
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
        EXPECT_EQ(http.Get(url), "one");
        TNetMemoryStream source(std::string("form"));
        TNetMemoryStream content;
        EXPECT_THROW(http.PerformRequest(c.method, url, c.method == hmPost ? &source : nullptr, &content),
                     ENetException);
        EXPECT_EQ(server.connectionCount(), 1u);
    }
}

}  // namespace
}  // namespace net
