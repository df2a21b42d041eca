// Each raw answer of the table, played from loopback with the connection kept
// and closed: the page or the failure, whether the connection carries the
// next request, and what that request gets.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "RawAnswerCases.h"
#include "ScriptedHttpServer.h"
#include "http/NetHTTP.h"

namespace net {
namespace {

using nettest::ScriptedHttpServer;
using namespace std::chrono_literals;

struct CallResult {
    std::string body;
    std::string failure;  // as netget reports it
    std::string replyBody;
};

// Runs one Get on another thread; one still running after ten seconds is
// interrupted and fails the test.
CallResult boundedGet(TNetHTTP& http, const std::string& url) {
    auto pending = std::async(std::launch::async, [&] {
        CallResult result;
        try {
            result.body = http.Get(url);
        } catch (const ENetHTTPProtocolException& e) {
            result.failure = std::string(e.ClassName()) + ": " + e.Message() + " (ReplyCode " +
                             std::to_string(e.ReplyCode()) + ")";
            result.replyBody = e.ReplyBody();
        } catch (const ENetException& e) {
            result.failure = std::string(e.ClassName()) + ": " + e.Message();
        }
        return result;
    });
    if (pending.wait_for(10s) != std::future_status::ready) {
        http.Interrupt();
        ADD_FAILURE() << "the call did not end on its own";
    }
    return pending.get();
}

TEST(HttpFraming, EachRawAnswerKeptAndClosed) {
    for (const nettest::RawAnswerCase& c : nettest::rawAnswerCases()) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server(nettest::repliesFor(c));
        TNetHTTP http;
        ApplyProgramSettings(http);
        // The server holds the connection after an error body that ends at
        // the close; nothing more is coming, so a short wait decides as well.
        http.ErrorBodyReadTimeout = 200;

        const CallResult result = boundedGet(http, server.url(c.target));
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(result.body, c.body);
        EXPECT_EQ(result.replyBody, c.replyBody);
        // A close by the server may not have been noticed yet.
        if (c.kept) {
            EXPECT_EQ(http.IsConnected(), c.reused);
        }

        const CallResult next = boundedGet(http, server.url("/next"));
        EXPECT_EQ(next.failure, "");
        EXPECT_EQ(next.body, nettest::kNextBody);
        EXPECT_EQ(server.requestConnections(), (std::vector<int>{1, c.reused ? 1 : 2}));

        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(nettest::requestLineOf(requests[0]), nettest::expectedRequestLine(c));
    }
}

}  // namespace
}  // namespace net
