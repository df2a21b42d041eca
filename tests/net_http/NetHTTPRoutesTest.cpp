#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "ScriptedHttpServer.h"
#include "http/NetHTTP.h"
#include "tests/support/MemoryIOHandler.h"

namespace net {
namespace {

using nettest::Reply;
using nettest::ScriptedHttpServer;
using namespace std::chrono_literals;

Reply ok(const std::string& body) {
    return Reply("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

// ---- body stream -----------------------------------------------------------

TEST(MemoryStream, WritesReadsCutsAndHandsOverItsBytes) {
    TNetMemoryStream s;
    s.ReserveCapacity(10);
    EXPECT_EQ(s.Size(), 0);
    s.Write(std::string_view("hello world"));
    s.SetPosition(5);
    s.SetSize(5);
    EXPECT_EQ(s.Size(), 5);
    // A position beyond the end leaves zeros in the gap.
    s.SetPosition(7);
    char* room = s.BeginDirectWrite(4);
    std::memcpy(room, "abcd", 4);
    s.CommitDirectWrite(2);
    EXPECT_EQ(s.Size(), 9);
    s.SetPosition(0);
    char back[16] = {};
    EXPECT_EQ(s.Read(back, sizeof back), 9);
    EXPECT_EQ(std::string(back, 9), std::string("hello\0\0ab", 9));
    EXPECT_EQ(s.TakeString(), std::string("hello\0\0ab", 9));
    EXPECT_EQ(s.Size(), 0);
}

TEST(MemoryStream, AHugeAnnouncedLengthReservesOnlyAddressSpace) {
    TNetMemoryStream s;
    s.ReserveCapacity(std::int64_t{3} << 30);  // more than the reserve cap
    s.Write(std::string_view("x"));
    EXPECT_EQ(s.TakeString(), "x");
}

// ---- routes ----------------------------------------------------------------

TEST(HttpRoutes, ProxyGetsTheAbsoluteUrlAndTheHostOfTheTarget) {
    ScriptedHttpServer proxy({ok("via proxy")});
    TNetHTTP http;
    ApplyProgramSettings(http);
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy.port());
    EXPECT_EQ(http.Get("http://search.test/zsmp3?word=a#frag"), "via proxy");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0],
              "GET http://search.test:80/zsmp3?word=a HTTP/1.1\r\n"
              "Host: search.test\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; BrelvoMP3)\r\n"
              "\r\n");
}

TEST(HttpRoutes, ProxyCredentialsGoOutUnasked) {
    ScriptedHttpServer proxy({ok("x")});
    TNetHTTP http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy.port());
    http.ProxyParams().BasicAuthentication = true;
    http.ProxyParams().ProxyUsername = "p";
    http.ProxyParams().ProxyPassword = "q";
    http.Get("http://search.test/");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_NE(proxy.requests()[0].find("\r\nProxy-Authorization: Basic cDpx\r\n"), std::string::npos)
        << proxy.requests()[0];
}

// A transport that says it can encrypt; it passes bytes through either way.
// Like a server, it answers each request head written to it with the next of
// its answers, and is silent in between.
class FakeTlsTransport : public testsupport::MemoryIOHandler, public TNetTlsTransport {
public:
    explicit FakeTlsTransport(std::vector<std::string> answers) : answers_(answers.begin(), answers.end()) {
        endWithSilence();
    }
    void SetPassThrough(bool passThrough) override { modes.push_back(passThrough); }
    int HandlerSend(const void* buffer, int length) override {
        const int sent = MemoryIOHandler::HandlerSend(buffer, length);
        head_.append(static_cast<const char*>(buffer), static_cast<std::size_t>(std::max(sent, 0)));
        for (std::size_t end = head_.find("\r\n\r\n"); end != std::string::npos; end = head_.find("\r\n\r\n")) {
            head_.erase(0, end + 4);
            if (answers_.empty()) continue;
            appendInput(answers_.front());
            answers_.pop_front();
        }
        return sent;
    }
    std::vector<bool> modes;

private:
    std::deque<std::string> answers_;
    std::string head_;
};

TEST(HttpRoutes, HttpsWithATlsTransportEncryptsAndPlainHttpPassesThrough) {
    FakeTlsTransport tls({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\np"});
    TNetHTTP http;
    ApplyProgramSettings(http);
    http.SetIOHandler(&tls);
    EXPECT_EQ(http.Get("https://secure.test/a"), "ok");
    EXPECT_EQ(tls.connectedPort(), 443);
    EXPECT_NE(tls.written().find("Host: secure.test:443\r\n"), std::string::npos);
    EXPECT_EQ(http.Get("http://secure.test:443/b"), "p");
    EXPECT_EQ(tls.modes, (std::vector<bool>{false, true}));
    http.SetIOHandler(nullptr);
}

TEST(HttpRoutes, TunnelThroughAProxyForHttps) {
    FakeTlsTransport tls({"HTTP/1.1 200 Connection established\r\n\r\n",
                          "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret"});
    TNetHTTP http;
    ApplyProgramSettings(http);
    http.SetIOHandler(&tls);
    http.ProxyParams().SetProxyServer("proxy.test");
    http.ProxyParams().SetProxyPort(3128);
    EXPECT_EQ(http.Get("https://secure.test/x"), "secret");
    EXPECT_EQ(tls.connectedHost(), "proxy.test");
    const std::string& sent = tls.written();
    EXPECT_EQ(sent.substr(0, 34), "CONNECT secure.test:443 HTTP/1.1\r\n");
    EXPECT_NE(sent.find("Proxy-Connection: keep-alive\r\n"), std::string::npos);
    EXPECT_NE(sent.find("\r\n\r\nGET /x HTTP/1.1\r\n"), std::string::npos) << sent;
    EXPECT_EQ(tls.modes.back(), false);
    http.SetIOHandler(nullptr);
}

TEST(HttpRoutes, HttpsThroughAProxyWithoutTlsIsRefused) {
    TNetHTTP http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(1);
    EXPECT_THROW(http.Get("https://secure.test/"), ENetIOHandlerPropInvalid);
}

// ---- authorization events ------------------------------------------------------

TEST(HttpAuthorization, EventsChooseTheSchemeAndSupplyCredentials) {
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest x\r\n"
               "WWW-Authenticate: Basic realm=\"site\"\r\nContent-Length: 0\r\n\r\n"),
         ok("in")});
    TNetHTTP http;
    ApplyProgramSettings(http);
    std::vector<std::string> offered;
    http.OnSelectAuthorization = [&](TNetCustomHTTP&, TNetAuthenticationClass& cls,
                                     const std::vector<std::string>& info) {
        offered = info;
        EXPECT_EQ(cls, TNetBasicAuthentication::Class());
    };
    int asked = 0;
    http.OnAuthorization = [&](TNetCustomHTTP&, TNetAuthentication& auth, bool& handled) {
        ++asked;
        EXPECT_EQ(auth.params.value("realm"), "site");
        auth.setUsername("me");
        auth.setPassword("pw");
        handled = true;
    };
    EXPECT_EQ(http.Get(server.url("/private")), "in");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(offered, (std::vector<std::string>{"Digest x", "Basic realm=\"site\""}));
    EXPECT_EQ(http.Request().Username, "me");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests()[1].find("Authorization: Basic bWU6cHc="), std::string::npos);
}

TEST(HttpAuthorization, UnknownSchemeFailsWithTheChallenge) {
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM\r\nContent-Length: 2\r\n\r\nno")});
    TNetHTTP http;
    bool asked = false;
    http.OnAuthorization = [&](TNetCustomHTTP&, TNetAuthentication&, bool&) { asked = true; };
    try {
        http.Get(server.url("/"));
        FAIL() << "no exception";
    } catch (const ENetHTTPProtocolException& e) {
        EXPECT_EQ(e.ReplyCode(), 401);
        EXPECT_EQ(e.ReplyBody(), "no");
    }
    EXPECT_FALSE(asked);
    EXPECT_EQ(http.Request().Authentication, nullptr);
}

TEST(HttpAuthorization, AHandlerThatNeverGivesAUserNameDoesNotLoop) {
    ScriptedHttpServer server(
        {Reply("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n")});
    TNetHTTP http;
    int asked = 0;
    http.OnAuthorization = [&](TNetCustomHTTP&, TNetAuthentication&, bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_THROW(http.Get(server.url("/")), ENetHTTPProtocolException);
    EXPECT_LE(asked, http.AuthRetries);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpRoutes, SecureCookiesGoOnlyOverEncryptedRoutes) {
    FakeTlsTransport tls(
        {"HTTP/1.1 200 OK\r\nSet-Cookie: s=1; path=/; secure\r\nSet-Cookie: p=2; path=/\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
    TNetHTTP http;
    http.SetIOHandler(&tls);
    http.Get("http://shop.test/");
    tls.clearWritten();
    http.Get("http://shop.test/");
    EXPECT_NE(tls.written().find("\r\nCookie: p=2\r\n"), std::string::npos) << tls.written();
    tls.clearWritten();
    http.Get("https://shop.test:80/");  // same connection, now encrypted
    EXPECT_NE(tls.written().find("s=1"), std::string::npos) << tls.written();
    http.SetIOHandler(nullptr);
}

}  // namespace
}  // namespace net
