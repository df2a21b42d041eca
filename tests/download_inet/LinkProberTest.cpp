#include "download/inet/LinkProber.h"

#include <gtest/gtest.h>

#include <future>

#include "download/texts/DownloadErrors.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MpegFrames.h"
#include "tests/support/ProbeServer.h"

namespace {

using probe::LinkState;
using testsupport::ProbeServer;
using Route = ProbeServer::Route;

constexpr std::size_t kFrame = 417;  // 128 kbps at 44100 Hz

std::string song(std::size_t frames, std::size_t tag = 0) {
    std::string out = tag ? probetest::id3Tag(static_cast<std::uint32_t>(tag)) : std::string();
    for (std::size_t i = 0; i < frames; ++i) out += probetest::frame(probetest::FrameSpec{}, kFrame);
    return out;
}

Route answer(int status, std::string body) {
    Route r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Route ignoringRange(std::string body) {
    Route r;
    r.body = std::move(body);
    r.honourRange = false;
    return r;
}

inet::ProbeSettings quick() {
    inet::ProbeSettings s;
    s.connectTimeoutMs = 5000;
    s.totalTimeoutMs = 20000;
    return s;
}

TEST(LinkProber, VerdictsByStatusAndBody) {
    Route page;
    page.body = "<!DOCTYPE html><html><body>文件不存在</body></html>";
    page.contentType = "text/html";
    Route shortSong = answer(200, song(10));
    shortSong.rangeAsAsked = true;
    Route tagged;
    tagged.body = song(100, 40000);
    tagged.etag = "\"v1\"";
    tagged.lastModified = "Wed, 09 Dec 2026 10:00:00 GMT";
    ProbeServer server({
        {"/song.mp3", answer(200, song(200))},
        {"/tagged.mp3", tagged},
        {"/page.mp3", page},
        {"/empty.mp3", answer(200, "")},
        {"/gone.mp3", answer(410, "gone")},
        {"/forbidden.mp3", answer(403, "no")},
        {"/busy.mp3", answer(503, "busy")},
        {"/slow-down.mp3", answer(429, "later")},
        {"/teapot.mp3", answer(400, "bad")},
        {"/short.mp3", shortSong},
    });
    struct Case {
        const char* path;
        LinkState state;
        int code;
        std::string reason;
        std::optional<std::uint64_t> size;
        int requests;
    };
    const std::vector<Case> cases = {
        {"/song.mp3", LinkState::Audio, 206, "", 200 * kFrame, 1},
        {"/tagged.mp3", LinkState::Audio, 206, "", tagged.body.size(), 2},
        {"/page.mp3", LinkState::NotAudio, 206, "web page", page.body.size(), 1},
        {"/empty.mp3", LinkState::NotAudio, 200, "empty body", 0, 1},
        {"/missing.mp3", LinkState::Dead, 404, "HTTP 404", std::nullopt, 1},
        {"/gone.mp3", LinkState::Dead, 410, "HTTP 410", std::nullopt, 1},
        {"/forbidden.mp3", LinkState::Dead, 403, "HTTP 403", std::nullopt, 1},
        {"/teapot.mp3", LinkState::Dead, 400, "HTTP 400", std::nullopt, 1},
        {"/busy.mp3", LinkState::Unavailable, 503, "HTTP 503", std::nullopt, 1},
        {"/slow-down.mp3", LinkState::Unavailable, 429, "HTTP 429", std::nullopt, 1},
        // A short file whose range is named as asked, past its end.
        {"/short.mp3", LinkState::Audio, 206, "", 10 * kFrame, 1},
        // A stored address that ends in a blank is asked as a download asks it.
        {"/song.mp3 ", LinkState::Audio, 206, "", 200 * kFrame, 1},
    };
    std::vector<std::string> urls;
    for (const Case& c : cases) urls.push_back(server.url(c.path));
    std::vector<bool> heard(urls.size());
    inet::LinkProber prober(quick());
    const auto outcomes = prober.probeAll(urls, [&](std::size_t i, const inet::ProbeOutcome&) { heard.at(i) = true; });
    ASSERT_EQ(outcomes.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.path);
        const probe::LinkVerdict& v = outcomes[i].verdict;
        EXPECT_TRUE(heard[i]);
        EXPECT_EQ(v.state, c.state) << v.reason;
        EXPECT_EQ(v.code, c.code);
        EXPECT_EQ(v.reason, c.reason);
        if (c.size) {
            EXPECT_EQ(v.size, c.size);
        }
        EXPECT_EQ(outcomes[i].requests, c.requests);
        if (c.state == LinkState::Audio) {
            EXPECT_EQ(v.kbps, 128);
            ASSERT_TRUE(v.seconds);
        }
    }
    const auto& t = outcomes[1].verdict;
    EXPECT_EQ(t.etag, "\"v1\"");
    EXPECT_EQ(t.lastModified, "Wed, 09 Dec 2026 10:00:00 GMT");
    EXPECT_NEAR(*t.seconds, 100 * kFrame * 8 / 128000.0, 0.01);
    // Every request a GET of the first 16 KiB, unless it asks where a tag said the audio starts.
    for (const auto& r : server.requests()) {
        SCOPED_TRACE(r.target);
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.acceptEncoding, "identity");
        if (r.range != "bytes=0-16383") {
            EXPECT_EQ(r.target, "/tagged.mp3");
            EXPECT_EQ(r.range, "bytes=40010-56393");
        }
    }
}

TEST(LinkProber, ServerIgnoringRangeIsCutOff) {
    ProbeServer server({
        {"/whole.mp3", ignoringRange(song(5000))},                  // about 2 MB
        {"/tagged.mp3", ignoringRange(song(5000, 60000))},          // audio at 60 KiB
        {"/huge-tag.mp3", ignoringRange(song(5000, 200000))},       // past what a probe may read
        {"/page.htm", ignoringRange("<html>" + std::string(1 << 20, 'x') + "</html>")},
        {"/gone.mp3", answer(404, std::string(1 << 20, 'x'))},
    });
    const std::vector<std::string> urls = {server.url("/whole.mp3"), server.url("/tagged.mp3"),
                                           server.url("/huge-tag.mp3"), server.url("/page.htm"),
                                           server.url("/gone.mp3")};
    inet::LinkProber prober(quick());
    const auto outcomes = prober.probeAll(urls);
    ASSERT_EQ(outcomes.size(), 5u);
    EXPECT_EQ(outcomes[0].verdict.state, LinkState::Audio);
    EXPECT_EQ(outcomes[0].verdict.code, 200);
    EXPECT_EQ(outcomes[0].verdict.size, 5000 * kFrame);
    EXPECT_EQ(outcomes[1].verdict.state, LinkState::Audio);
    EXPECT_EQ(outcomes[1].requests, 2);
    EXPECT_EQ(outcomes[2].verdict.state, LinkState::NotAudio);
    EXPECT_EQ(outcomes[3].verdict.reason, "web page");
    // A refusal's body is not read past its first bytes.
    EXPECT_EQ(outcomes[4].verdict.code, 404);
    EXPECT_LE(outcomes[4].bodyBytes, 16384u);
    for (const auto& o : outcomes) EXPECT_LE(o.bodyBytes, 128u * 1024);
}

TEST(LinkProber, SlowRefusedAndStopped) {
    Route slow = answer(200, song(10));
    slow.delay = std::chrono::seconds(30);
    ProbeServer server({{"/slow.mp3", slow}});
    // A port nobody listens on: taken from a listener closed at once.
    int closedPort = 0;
    {
        testsupport::LoopbackServer gone([](testsupport::LoopbackConnection&) {});
        closedPort = gone.port();
    }
    inet::ProbeSettings s = quick();
    s.totalTimeoutMs = 300;
    inet::LinkProber prober(s);
    const auto outcomes = prober.probeAll(
        {server.url("/slow.mp3"), "http://127.0.0.1:" + std::to_string(closedPort) + "/x.mp3", "ftp://127.0.0.1/x.mp3"});
    EXPECT_EQ(outcomes[0].verdict.state, LinkState::Dead);
    EXPECT_EQ(outcomes[0].verdict.code, dl::kErrTimeout);
    EXPECT_EQ(outcomes[0].verdict.reason, "Timeout");
    EXPECT_EQ(outcomes[1].verdict.state, LinkState::Dead);
    EXPECT_EQ(outcomes[1].verdict.code, dl::kErrCannotConnect);
    EXPECT_EQ(outcomes[2].verdict.state, LinkState::Dead);

    // Stopped from another thread, a probe of a silent server ends at once.
    inet::LinkProber patient(quick());
    auto running = std::async(std::launch::async, [&] { return patient.probeAll({server.url("/slow.mp3")}); });
    ASSERT_TRUE(server.waitForRequests(2, std::chrono::seconds(30)));
    patient.stop();
    ASSERT_EQ(running.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto stopped = running.get();
    EXPECT_EQ(stopped[0].verdict.state, LinkState::Unavailable);
    EXPECT_EQ(stopped[0].verdict.code, dl::kErrOperationCancelled);
}

TEST(LinkProber, CapsOnAllAndOnEachHost) {
    auto shared = std::make_shared<ProbeServer::Concurrency>();
    Route held = answer(200, song(50));
    held.delay = std::chrono::milliseconds(200);
    std::vector<std::unique_ptr<ProbeServer>> servers;
    std::vector<std::string> urls;
    for (int host = 0; host < 6; ++host) {
        servers.push_back(std::make_unique<ProbeServer>(std::map<std::string, Route>{{"/s.mp3", held}}, shared));
        for (int i = 0; i < 8; ++i) urls.push_back(servers.back()->url("/s.mp3?" + std::to_string(i)));
    }
    // Every path of a host answers the same song.
    for (auto& url : urls) url = url.substr(0, url.find('?'));
    inet::LinkProber prober(quick());
    const auto outcomes = prober.probeAll(urls);
    for (const auto& o : outcomes) EXPECT_EQ(o.verdict.state, LinkState::Audio) << o.verdict.reason;
    for (const auto& s : servers) EXPECT_LE(s->mostOpen(), 4);
    std::lock_guard lock(shared->mutex);
    EXPECT_LE(shared->most, 16);
    EXPECT_GE(shared->most, 2);
}

}  // namespace
