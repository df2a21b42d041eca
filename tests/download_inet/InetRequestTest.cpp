#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "download/inet/InetConnection.h"
#include "download/inet/InetErrors.h"
#include "download/inet/InetRequest.h"
#include "download/inet/InetRequestUrl.h"
#include "download/inet/InetSession.h"
#include "tests/support/ScriptedTcpServer.h"

using namespace std::chrono_literals;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;

namespace {

struct Opened {
    std::shared_ptr<inet::Session> session;
    std::shared_ptr<inet::Connection> connection;
    std::unique_ptr<inet::Request> request;
};

Opened openGet(int port, const std::string& object, std::uint32_t flags = 0) {
    Opened o;
    o.session = inet::Session::open("agent/1");
    o.session->setProxy(inet::AccessType::Direct, "");
    o.connection = inet::Connection::connect(o.session, "127.0.0.1", port, "", "", inet::Service::Http).value();
    o.request = inet::Request::openHttp(o.connection, "GET", object, "", flags).value();
    return o;
}

std::string readAll(inet::Request& request, bool& ok) {
    std::string body;
    char buffer[16384];
    for (;;) {
        const auto read = request.read(buffer, sizeof buffer);
        ok = read.has_value();
        const std::size_t n = read.value_or(0);
        if (!ok || n == 0) return body;
        body.append(buffer, n);
    }
}

}  // namespace

TEST(InetRequest, SendsTheRequestAndAnswersHeaderQueries) {
    ScriptedTcpServer server(ServerScript()
                                 .expectUntil("\r\n\r\n")
                                 .send("HTTP/1.1 200 OK\r\nContent-Type:  audio/mpeg \r\nContent-Length: 5\r\n"
                                       "Last-Modified: Tue, 15 Nov 1994 08:12:31 GMT\r\nSet-Cookie: a=1\r\n\r\nhello"));
    auto o = openGet(server.port(), "/music/a.mp3?id=7");
    ASSERT_TRUE(o.request->addHeader("Cookie: k=v"));
    ASSERT_TRUE(o.request->send(""));
    EXPECT_EQ(o.request->handleType(), inet::kHandleHttpRequest);
    EXPECT_EQ(o.request->queryInfo(inet::kQueryStatusCode, 1024).value_or(""), "200");
    EXPECT_EQ(o.request->queryInfo(inet::kQueryContentType, 1024).value_or(""), "audio/mpeg");
    EXPECT_EQ(o.request->queryInfo(inet::kQueryContentLength, 1024).value_or(""), "5");
    const auto location = o.request->queryInfo(inet::kQueryLocation, 1024);
    EXPECT_FALSE(location.has_value());
    EXPECT_EQ(location.error().code, dl::kErrHeaderNotFound);
    const auto raw = o.request->queryInfo(inet::kQueryRawHeaders, 1024).value_or("");
    EXPECT_EQ(raw.substr(0, 16), std::string("HTTP/1.1 200 OK\0", 16));
    EXPECT_NE(raw.find(std::string("Set-Cookie: a=1\0", 16)), std::string::npos);
    const auto tooLong = o.request->queryInfo(inet::kQueryRawHeaders, raw.size());
    EXPECT_FALSE(tooLong.has_value());
    EXPECT_EQ(tooLong.error().code, dl::kErrInsufficientBuffer);
    bool ok = false;
    EXPECT_EQ(readAll(*o.request, ok), "hello");
    EXPECT_TRUE(ok);
    ASSERT_TRUE(server.waitUntilDone(5s));
    const std::string head = server.received();
    EXPECT_EQ(head.rfind("GET /music/a.mp3?id=7 HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("User-Agent: agent/1\r\n"), std::string::npos);
    EXPECT_NE(head.find("Cookie: k=v\r\n"), std::string::npos);
}

TEST(InetRequest, AddHeaderRefusesLineBreaks) {
    auto o = openGet(1, "/");
    const auto added = o.request->addHeader("A: b\r\nC: d");
    EXPECT_FALSE(added);
    EXPECT_EQ(added.error().code, dl::kErrInvalidHeader);
}

TEST(InetRequest, ClosingTheConnectionInterruptsABlockedSend) {
    ScriptedTcpServer server(ServerScript().hold());
    auto o = openGet(server.port(), "/");
    std::thread closer([&] {
        ASSERT_TRUE(server.waitForConnections(1, 5s));
        std::this_thread::sleep_for(200ms);
        o.connection->close();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto sent = o.request->send("");
    EXPECT_FALSE(sent);
    const auto took = std::chrono::steady_clock::now() - start;
    closer.join();
    EXPECT_EQ(sent.error().code, dl::kErrOperationCancelled);
    EXPECT_LT(took, 10s);  // well below the 30 s the silent server could hold it
}

TEST(InetRequest, ClosingTheSessionInterruptsABlockedRead) {
    ScriptedTcpServer server(ServerScript().expectUntil("\r\n\r\n").send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab").hold());
    auto o = openGet(server.port(), "/");
    ASSERT_TRUE(o.request->send(""));
    char buffer[16384];
    const auto first = o.request->read(buffer, sizeof buffer);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, 2u);
    std::thread closer([&] {
        std::this_thread::sleep_for(200ms);
        o.session->close();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto second = o.request->read(buffer, sizeof buffer);
    EXPECT_FALSE(second);
    const auto took = std::chrono::steady_clock::now() - start;
    closer.join();
    EXPECT_EQ(second.error().code, dl::kErrOperationCancelled);
    EXPECT_LT(took, 10s);  // well below the 30 s the silent server could hold it
}

TEST(InetRequest, BrowserUrlTrimsAndEncodes) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {" \thttp://h/a b.mp3 \r\n", "http://h/a%20b.mp3"},
        {"http://h/%41?id=1", "http://h/%41?id=1"},
        {"http://h/\xE6\x9C\x88.mp3", "http://h/%D4%C2.mp3"},           // UTF-8 月 sent in GBK
        {"http://h/\xD4\xC2.mp3", "http://h/%D4%C2.mp3"},               // already GBK: byte for byte
        {"http://h/\xF0\x9F\x98\x80", "http://h/%F0%9F%98%80"},         // not in GBK: its UTF-8 bytes
        {"http://h/a\x01" "b\x7F", "http://h/a%01b"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(inet::browserUrl(c.in), c.out);
    }
}

TEST(InetRequest, BytesBeyondAReadWaitInPlaceOrAreCopiedOver) {
    std::string body;
    for (int i = 0; i < 200000; ++i) body += static_cast<char>('a' + i % 23);
    enum class Mode { InPlace, Elsewhere, Mixed };
    for (const Mode mode : {Mode::InPlace, Mode::Elsewhere, Mode::Mixed}) {
        SCOPED_TRACE(static_cast<int>(mode));
        ScriptedTcpServer server(ServerScript().expectUntil("\r\n\r\n").send(
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
        auto o = openGet(server.port(), "/");
        ASSERT_TRUE(o.request->send(""));
        std::string place(body.size(), '\0');
        std::size_t at = 0;
        for (int i = 0;; ++i) {
            char scratch[1000];
            // In place: room up to the end, so what arrives early waits there.
            const bool inPlace = mode == Mode::InPlace || (mode == Mode::Mixed && i % 2 == 0);
            const auto read = inPlace ? o.request->read(&place[at], 1000, place.size() - at)
                                      : o.request->read(scratch, sizeof scratch);
            const bool ok = read.has_value();
            const std::size_t n = read.value_or(0);
            ASSERT_TRUE(ok);
            if (n == 0) break;
            ASSERT_LE(n, 1000u);
            if (!inPlace) place.replace(at, n, scratch, n);
            at += n;
        }
        EXPECT_EQ(at, body.size());
        EXPECT_TRUE(place == body);
    }
}
