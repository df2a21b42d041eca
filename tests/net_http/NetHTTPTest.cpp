#include "http/NetHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "ScriptedHttpServer.h"

namespace net {
namespace {

using nettest::Reply;
using nettest::ScriptedHttpServer;
using namespace std::chrono_literals;

Reply ok(const std::string& body, const std::string& extraHeaders = "") {
    return {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
            extraHeaders + "\r\n" + body};
}

Reply closing(const std::string& bytes) {
    Reply r{bytes};
    r.closeAfter = true;
    return r;
}

class HttpClientTest : public ::testing::Test {
protected:
    HttpClientTest() { ApplyProgramSettings(http); }

    // Runs `call` expecting ENetHTTPProtocolException and returns it.
    template <class Call>
    ENetHTTPProtocolException protocolFailure(Call&& call) {
        try {
            call();
        } catch (const ENetHTTPProtocolException& e) {
            return e;
        }
        ADD_FAILURE() << "no ENetHTTPProtocolException";
        return ENetHTTPProtocolException(0, "", "");
    }

    TNetHTTP http;
};

// ---- the request on the wire -------------------------------------------

TEST_F(HttpClientTest, SendsTheRequestHeadWithTheKeywordBytesUnchangedButItsBlank) {
    ScriptedHttpServer server({ok("page")});
    const std::string keyword = "\xc1\xf5\xb5\xc2\xbb\xaa a&b=%";  // GBK text, a blank, "&", "=", "%"
    const std::string query = "/zsmp3?ty=1&word=" + keyword + "&class=mp3&bg=2&webid=";
    const std::string sent = "/zsmp3?ty=1&word=\xc1\xf5\xb5\xc2\xbb\xaa%20a&b=%&class=mp3&bg=2&webid=";
    EXPECT_EQ(http.Get(server.url(query)), "page");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "GET " + sent + " HTTP/1.1\r\n"
              "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; BrelvoMP3)\r\n"
              "\r\n");
}

TEST_F(HttpClientTest, HashEndsTheQueryOnTheWire) {
    ScriptedHttpServer server({ok("x")});
    http.Get(server.url("/zsmp3?ty=1&word=c#&class=mp3&bg=0&webid="));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].substr(0, server.requests()[0].find("\r\n")),
              "GET /zsmp3?ty=1&word=c HTTP/1.1");
}

TEST_F(HttpClientTest, RefusesLineBreaksInTheUrl) {
    ScriptedHttpServer server({});
    EXPECT_THROW(http.Get(server.url("/a\r\nX-Injected: 1")), ENetException);
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(HttpClientTest, SendsCookiesWithRootPathFromTheSecondCallOn) {
    ScriptedHttpServer server({ok("1", "Set-Cookie: sid=abc; path=/\r\nSet-Cookie: doc=1\r\n"), ok("2")});
    http.Get(server.url("/zsmp3?a=1"));
    http.Get(server.url("/zsmp3?a=2"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
    EXPECT_NE(requests[1].find("\r\nCookie: sid=abc\r\n\r\n"), std::string::npos) << requests[1];
    EXPECT_EQ(requests[1].find("doc=1"), std::string::npos);
}

TEST_F(HttpClientTest, UsesAnAssignedCookieManagerAndForgetsItWhenItIsDestroyed) {
    ScriptedHttpServer server({ok("1", "Set-Cookie: sid=abc; path=/\r\n"), ok("2"), ok("3")});
    {
        TNetCookieManager shared;
        http.SetCookieManager(&shared);
        http.Get(server.url("/"));
        EXPECT_EQ(http.CookieManager(), &shared);
        http.Get(server.url("/"));
        EXPECT_EQ(shared.CookieCollection().count(), 1);
    }
    EXPECT_EQ(http.CookieManager(), nullptr);
    // The next response brings a manager of the client's own.
    EXPECT_EQ(http.Get(server.url("/")), "3");
    EXPECT_NE(http.CookieManager(), nullptr);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[1].find("\r\nCookie: sid=abc\r\n"), std::string::npos) << requests[1];
    EXPECT_EQ(requests[2].find("Cookie:"), std::string::npos) << requests[2];
}

TEST_F(HttpClientTest, SendsBasicWithEmptyCredentialsAfterA401OfferedIt) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 4\r\n\r\ndeny"},
         ok("fine")});
    const auto e = protocolFailure([&] { http.Get(server.url("/a")); });
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.ReplyBody(), "deny");
    EXPECT_EQ(http.Get(server.url("/b")), "fine");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
    EXPECT_NE(requests[1].find("\r\nAuthorization: Basic Og==\r\n"), std::string::npos) << requests[1];
}

TEST_F(HttpClientTest, RetriesWithCredentialsWhenInProcessAuthIsSet) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n"},
         ok("secret")});
    http.HTTPOptions |= hoInProcessAuth;
    http.Request().Username = "user";
    http.Request().Password = "pw";
    EXPECT_EQ(http.Get(server.url("/a")), "secret");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("Authorization: Basic dXNlcjpwdw=="), std::string::npos);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(HttpClientTest, GivesUpWhenTheSameCredentialsAreRejectedAgain) {
    const Reply deny{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n"};
    ScriptedHttpServer server({deny, deny, deny, deny});
    http.HTTPOptions |= hoInProcessAuth;
    http.Request().Username = "user";
    EXPECT_EQ(protocolFailure([&] { http.Get(server.url("/a")); }).ReplyCode(), 401);
    EXPECT_EQ(server.requests().size(), 2u);
}

// ---- body framings -------------------------------------------------------

TEST_F(HttpClientTest, LengthBodyOnAnOpenConnectionIsKeptForTheNextCall) {
    ScriptedHttpServer server({ok("hello"), ok("world")});
    EXPECT_EQ(http.Get(server.url("/1")), "hello");
    EXPECT_TRUE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/2")), "world");
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(server.requestConnections(), (std::vector<int>{1, 1}));
}

TEST_F(HttpClientTest, BodyWithoutLengthIsReadUntilTheServerCloses) {
    ScriptedHttpServer server({closing("HTTP/1.1 200 OK\r\n\r\nall of it"), ok("next")});
    EXPECT_EQ(http.Get(server.url("/1")), "all of it");
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/2")), "next");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpClientTest, ChunkedBodySignalsChunkStartedOnceAndKeepsTheConnection) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"}, ok("after")});
    int chunkStarted = 0;
    http.OnStatus = [&](TNetBaseComponent*, TNetStatus status, const std::string& text) {
        if (status == hsStatusText && text == "Chunk Started") ++chunkStarted;
    };
    EXPECT_EQ(http.Get(server.url("/")), "hello");
    EXPECT_EQ(chunkStarted, 1);
    EXPECT_EQ(http.Get(server.url("/")), "after");
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(HttpClientTest, ChunkedBodyWithExtensionsTrailersAndPiecesArrivingLate) {
    Reply reply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3;name=v\r\nabc\r\n1"};
    reply.secondPart = "0\r\n" + std::string(16, 'x') + "\r\n0\r\nX-Trailer: 1\r\n\r\n";
    reply.secondPause = 50ms;
    ScriptedHttpServer server({reply, ok("next")});
    EXPECT_EQ(http.Get(server.url("/")), "abc" + std::string(16, 'x'));
    EXPECT_EQ(http.Get(server.url("/")), "next");
}

TEST_F(HttpClientTest, InvalidChunkSizeFailsAndDropsTheConnection) {
    ScriptedHttpServer server({{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"}, ok("ok")});
    EXPECT_THROW(http.Get(server.url("/")), ENetException);
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/")), "ok");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpClientTest, BodyCutShortByTheServerIsAnError) {
    ScriptedHttpServer server({closing("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf")});
    EXPECT_THROW(http.Get(server.url("/")), ENetConnClosedGracefully);
}

TEST_F(HttpClientTest, NoContentReadsNoBody) {
    ScriptedHttpServer server({{"HTTP/1.1 204 No Content\r\n\r\n"}, ok("x")});
    EXPECT_EQ(http.Get(server.url("/")), "");
    EXPECT_EQ(http.Get(server.url("/")), "x");
}

TEST_F(HttpClientTest, ABodyNobodyTakesIsStillConsumedBeforeTheNextRequest) {
    ScriptedHttpServer server({ok("unwanted"), ok("wanted")});
    http.PerformRequest(hmGet, server.url("/a"), nullptr, nullptr);
    EXPECT_EQ(http.Get(server.url("/b")), "wanted");
    EXPECT_EQ(http.Response().StatusLine(), "HTTP/1.1 200 OK");
}

TEST_F(HttpClientTest, GetIntoAStreamAppendsAtItsPosition) {
    ScriptedHttpServer server({ok("body")});
    TNetMemoryStream stream;
    stream.Write(std::string_view("head:"));
    http.Get(server.url("/"), stream);
    EXPECT_EQ(stream.View(), "head:body");
}

// ---- status handling -----------------------------------------------------

TEST_F(HttpClientTest, ErrorStatusesRaiseWithLineCodeAndBody) {
    ScriptedHttpServer server({{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!"},
                               {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops"},
                               {"HTTP/1.1 304 Not Modified\r\n\r\n"},
                               ok("still usable")});
    auto e = protocolFailure([&] { http.Get(server.url("/a")); });
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.ReplyBody(), "not here!");
    e = protocolFailure([&] { http.Get(server.url("/b")); });
    EXPECT_EQ(e.Message(), "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(e.ReplyCode(), 500);
    EXPECT_EQ(e.ReplyBody(), "oops");
    EXPECT_EQ(protocolFailure([&] { http.Get(server.url("/c")); }).ReplyCode(), 304);
    EXPECT_EQ(http.Get(server.url("/d")), "still usable");
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(HttpClientTest, RedirectsAndLocationsFailWithoutASecondRequest) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nmv"},
         {"HTTP/1.1 200 OK\r\nLocation: /other\r\nContent-Length: 2\r\n\r\nhi"}});
    auto e = protocolFailure([&] { http.Get(server.url("/a")); });
    EXPECT_EQ(e.ReplyCode(), 302);
    EXPECT_EQ(e.ReplyBody(), "mv");
    EXPECT_EQ(server.requests().size(), 1u);
    e = protocolFailure([&] { http.Get(server.url("/b")); });
    EXPECT_EQ(e.ReplyCode(), 200);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(HttpClientTest, FollowsRedirectsWhenAskedAndOverwritesTheEarlierBody) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 301 Moved\r\nLocation: /new?x=1\r\nContent-Length: 5\r\n\r\nmoved"}, ok("target")});
    http.HandleRedirects = true;
    std::vector<std::string> seen;
    http.OnRedirect = [&](TNetCustomHTTP&, std::string& dest, int count, bool& handled, TNetHTTPMethod&) {
        seen.push_back(dest + "#" + std::to_string(count));
        EXPECT_TRUE(handled);
    };
    TNetMemoryStream stream;
    stream.Write(std::string_view("keep:"));
    http.Get(server.url("/old"), stream);
    EXPECT_EQ(stream.View(), "keep:target");
    EXPECT_EQ(seen, (std::vector<std::string>{"/new?x=1#1"}));
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].substr(0, 23), "GET /new?x=1 HTTP/1.1\r\n");
    EXPECT_EQ(http.RedirectCount(), 0);
}

TEST_F(HttpClientTest, RedirectLoopEndsInAFailureAtTheLimit) {
    const Reply loop{"HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n"};
    ScriptedHttpServer server({loop, loop, loop, loop});
    http.HandleRedirects = true;
    http.RedirectMaximum = 3;
    EXPECT_EQ(protocolFailure([&] { http.Get(server.url("/")); }).ReplyCode(), 302);
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(HttpClientTest, InterimContinueIsSkipped) {
    ScriptedHttpServer server({{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
    EXPECT_EQ(http.Get(server.url("/")), "ok");
}

TEST_F(HttpClientTest, SwitchingProtocolsFailsAndDropsTheConnection) {
    ScriptedHttpServer server(
        {{"HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nstale"},
         ok("fresh")});
    EXPECT_EQ(protocolFailure([&] { http.Get(server.url("/a")); }).ReplyCode(), 101);
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/b")), "fresh");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpClientTest, OverlongHeaderLineRaises) {
    ScriptedHttpServer server({Reply("HTTP/1.1 200 OK\r\nX-Long: " + std::string(17000, 'a') + "\r\n\r\n")});
    try {
        http.Get(server.url("/"));
        FAIL() << "no exception";
    } catch (const ENetReadLnMaxLineLengthExceeded& e) {
        EXPECT_EQ(e.Message(), "Max line length exceeded.");
    }
    EXPECT_FALSE(http.IsConnected());
}

TEST_F(HttpClientTest, SlowErrorBodyEndsInReadTimeout) {
    Reply slow{"HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\nonly some"};
    ScriptedHttpServer server({slow});
    http.ErrorBodyReadTimeout = 150;
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(server.url("/"));
        FAIL() << "no exception";
    } catch (const ENetReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read Timeout");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(http.ReadTimeout(), 0);
    EXPECT_FALSE(http.IsConnected());
}

// ---- connections ---------------------------------------------------------

TEST_F(HttpClientTest, Http10ServerWithoutConnectionHeaderIsKeptUnder11) {
    ScriptedHttpServer server({{"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na"}, ok("b")});
    EXPECT_EQ(http.Get(server.url("/")), "a");
    EXPECT_EQ(http.Response().ResponseVersion(), pv1_0);
    EXPECT_EQ(http.Get(server.url("/")), "b");
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(HttpClientTest, Http10ClientAsksForKeepAlive) {
    ScriptedHttpServer server({ok("a", "Connection: Keep-Alive\r\n"), ok("b")});
    http.ProtocolVersion = pv1_0;
    EXPECT_EQ(http.Get(server.url("/")), "a");
    EXPECT_EQ(http.Get(server.url("/")), "b");
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(server.requests()[0].substr(0, 35), "GET / HTTP/1.0\r\nConnection: keep-al");
}

TEST_F(HttpClientTest, ConnectionCloseOpensANewConnectionNextTime) {
    ScriptedHttpServer server({ok("a", "Connection: close\r\n"), ok("b")});
    EXPECT_EQ(http.Get(server.url("/")), "a");
    EXPECT_FALSE(http.IsConnected());
    EXPECT_EQ(http.Get(server.url("/")), "b");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpClientTest, ServerClosingAKeptConnectionBetweenCallsIsNoticed) {
    ScriptedHttpServer server({closing("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na"), ok("b")});
    EXPECT_EQ(http.Get(server.url("/")), "a");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(http.Get(server.url("/")), "b");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST_F(HttpClientTest, ADifferentHostClosesTheFirstConnectionBeforeOpening) {
    ScriptedHttpServer first({ok("1")});
    ScriptedHttpServer second({ok("2"), ok("3")});
    std::vector<std::string> events;
    http.OnConnected = [&](TNetBaseComponent*) { events.push_back("connected"); };
    http.OnDisconnected = [&](TNetBaseComponent*) { events.push_back("disconnected"); };
    EXPECT_EQ(http.Get(first.url("/")), "1");
    EXPECT_EQ(http.Get(second.url("/")), "2");
    // Same port, another host name: another connection too.
    EXPECT_EQ(http.Get("http://localhost:" + std::to_string(second.port()) + "/"), "3");
    EXPECT_EQ(events, (std::vector<std::string>{"connected", "disconnected", "connected",
                                                "disconnected", "connected"}));
    EXPECT_EQ(second.connectionCount(), 2);
    EXPECT_EQ(http.Host(), "localhost");
}

TEST_F(HttpClientTest, RelativeUrlResolvesAgainstTheLastRequest) {
    ScriptedHttpServer server({ok("a"), ok("b")});
    http.Get(server.url("/dir/page.html"));
    http.Get("other.html?q=1");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].substr(0, 34), "GET /dir/other.html?q=1 HTTP/1.1\r\n");
}

// ---- failures before any byte is sent -------------------------------------

TEST(HttpClientSetup, HttpsFailsWithoutATlsTransport) {
    TNetHTTP http;
    ApplyProgramSettings(http);
    try {
        http.Get("https://127.0.0.1:1/");
        FAIL() << "no exception";
    } catch (const ENetIOHandlerPropInvalid& e) {
        EXPECT_EQ(e.Message(), "IOHandler value is not valid");
    }
}

TEST(HttpClientSetup, UrlWithoutProtocolOrEarlierPortIsUnknown) {
    TNetHTTP http;
    EXPECT_THROW(http.Get("page.html"), ENetUnknownProtocol);
    EXPECT_THROW(http.Get("ftp://127.0.0.1/x"), ENetUnknownProtocol);
}

TEST(HttpClientSetup, BadPortIsAConversionError) {
    TNetHTTP http;
    EXPECT_THROW(http.Get("http://127.0.0.1:8x/"), ConversionError);
    EXPECT_THROW(http.Get("http://127.0.0.1:65616/"), ConversionError);
}

TEST(HttpClientSetup, Http11OnlyMethodsNeedHttp11) {
    TNetHTTP http;
    http.ProtocolVersion = pv1_0;
    try {
        http.PerformRequest(hmOptions, "http://127.0.0.1:1/", nullptr, nullptr);
        FAIL() << "no exception";
    } catch (const ENetException& e) {
        EXPECT_EQ(e.Message(), "This request method is supported in HTTP 1.1");
    }
}

// ---- interrupt -------------------------------------------------------------

TEST(HttpClientInterrupt, UnblocksAGetWaitingForASilentServerAndStaysUsable) {
    TNetHTTP http;
    ApplyProgramSettings(http);
    Reply silent;
    silent.silent = true;
    ScriptedHttpServer quiet({silent});
    auto pending = std::async(std::launch::async, [&] { return http.Get(quiet.url("/")); });
    ASSERT_TRUE(quiet.waitForRequests(1, 5s));
    std::this_thread::sleep_for(20ms);
    const auto start = std::chrono::steady_clock::now();
    http.Interrupt();
    ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_THROW(pending.get(), ENetInterrupted);

    ScriptedHttpServer next({ok("again")});
    EXPECT_EQ(http.Get(next.url("/")), "again");
}

TEST(HttpClientInterrupt, AnInterruptBetweenCallsFailsTheNextOneUnlessCleared) {
    TNetHTTP http;
    ApplyProgramSettings(http);
    ScriptedHttpServer server({ok("a"), ok("b")});
    http.Interrupt();
    EXPECT_THROW(http.Get(server.url("/")), ENetInterrupted);
    EXPECT_EQ(http.Get(server.url("/")), "a");
    http.Interrupt();
    http.ClearInterrupt();
    EXPECT_EQ(http.Get(server.url("/")), "b");
}

}  // namespace
}  // namespace net
