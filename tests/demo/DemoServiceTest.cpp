// The demo-service binary as a child process on a free loopback port,
// talked to over a plain socket.
#include "tools/demo-service/DemoPages.h"
#include "tests/support/DemoServiceProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using testsupport::DemoServiceProcess;

namespace {

constexpr int kWaitMs = DemoServiceProcess::kWaitMs;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
};

// GET over a fresh connection with "Connection: close"; the reply is read to
// the end of the stream. Status 0 when anything failed.
Reply get(int port, const std::string& target) {
    Reply reply;
    Fd sock(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return reply;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return reply;
    std::string raw;
    char buf[16384];
    while (waitReadable(sock.get(), kWaitMs)) {
        const ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
        if (n <= 0) break;
        raw.append(buf, static_cast<std::size_t>(n));
    }
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos || std::sscanf(raw.c_str(), "HTTP/1.1 %d", &reply.status) != 1) return reply;
    std::size_t at = raw.find("\r\n") + 2;
    while (at < end) {
        const auto eol = raw.find("\r\n", at);
        const std::string line = raw.substr(at, eol - at);
        const auto colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (colon != std::string::npos) reply.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
        at = eol + 2;
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

std::unique_ptr<Fd> connectTo(int port) {
    auto sock = std::make_unique<Fd>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock->get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return std::make_unique<Fd>();
    return sock;
}

// A GET that keeps the connection open, as HTTP/1.1 does by default.
bool sendKeptAliveGet(int fd, const std::string& target) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    return ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
}

// One whole answer with a Content-Length, read by the deadline.
bool readOneAnswer(int fd, std::chrono::steady_clock::time_point deadline) {
    static const std::regex contentLength("\r\ncontent-length: *(\\d+)", std::regex::icase);
    std::string raw;
    std::size_t whole = std::string::npos;
    while (whole == std::string::npos || raw.size() < whole) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(fd, static_cast<int>(left.count()))) return false;
        char buf[16384];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        raw.append(buf, static_cast<std::size_t>(n));
        const std::string head = raw.substr(0, raw.find("\r\n\r\n"));
        std::smatch length;
        if (head.size() < raw.size() && std::regex_search(head, length, contentLength))
            whole = head.size() + 4 + std::stoul(length[1]);
    }
    return true;
}

std::vector<std::string> songAddresses(const std::string& page) {
    static const std::regex anchor(R"re(<a href="(http://127\.0\.0\.1:\d+(/songs/[a-z0-9-]+\.mp3))"( target=_blank)?>)re");
    std::vector<std::string> paths;
    for (std::sregex_iterator it(page.begin(), page.end(), anchor), none; it != none; ++it)
        paths.push_back((*it)[2]);
    return paths;
}

std::string pageTarget(const std::string& word, int bg) {
    return "/zsmp3?ty=1&word=" + word + "&class=mp3&bg=" + std::to_string(bg) + "&webid=";
}

class DemoServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        service_ = std::make_unique<DemoServiceProcess>(std::vector<std::string>{"--port", "0"});
        address_ = service_->firstLine();
        port_ = service_->port();
    }
    static void TearDownTestSuite() { service_.reset(); }
    void SetUp() override { ASSERT_GT(port_, 0) << "first line was \"" << address_ << "\""; }

    static inline std::unique_ptr<DemoServiceProcess> service_;
    static inline std::string address_;
    static inline int port_ = 0;
};

TEST_F(DemoServiceTest, ListensOnLoopbackOnly) {
    char local[32];
    std::snprintf(local, sizeof local, ":%04X", port_);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    int listeners = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, localAddress, remote, state;
        fields >> slot >> localAddress >> remote >> state;
        if (state == "0A" && localAddress.ends_with(local)) {
            ++listeners;
            EXPECT_EQ(localAddress, std::string("0100007F") + local);
        }
    }
    EXPECT_EQ(listeners, 1);
}

TEST_F(DemoServiceTest, ResultPagesCarryTheKeywordRawOrEscaped) {
    const std::string keyword = demo::gbk("春天");
    const Reply raw = get(port_, pageTarget(keyword, 0));
    ASSERT_EQ(raw.status, 200);
    EXPECT_EQ(raw.headers.at("content-type"), "text/html; charset=gbk");
    EXPECT_NE(raw.body.find("<font color=#DD0000>" + keyword + "</font>"), std::string::npos);
    EXPECT_GE(songAddresses(raw.body).size(), 5u);
    EXPECT_EQ(get(port_, pageTarget(demo::urlEncode(keyword), 0)).body, raw.body);
    // Each page is the one built in-process (whose pages all differ), also
    // past the page where the program's search stops.
    const std::string base = "http://127.0.0.1:" + std::to_string(port_);
    for (int bg = 0; bg <= 9; ++bg)
        EXPECT_EQ(get(port_, pageTarget(keyword, bg)).body, demo::resultPage(base, keyword, bg)) << bg;
}

TEST_F(DemoServiceTest, KeywordBlanksArriveAsPercent20BesideRawGbkBytes) {
    // As the program sends "周杰伦 晴天": the blank escaped, the rest raw.
    const std::string keyword = demo::gbk("周杰伦 晴天");
    const std::string sent = demo::gbk("周杰伦") + "%20" + demo::gbk("晴天");
    const Reply page = get(port_, pageTarget(sent, 0));
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<font color=#DD0000>" + keyword + "</font>"), std::string::npos);
    EXPECT_EQ(page.body, demo::resultPage("http://127.0.0.1:" + std::to_string(port_), keyword, 0));
    EXPECT_GE(songAddresses(page.body).size(), 5u);
    // A raw blank would end the request target: the request line is invalid.
    EXPECT_EQ(get(port_, pageTarget(demo::gbk("周杰伦") + " " + demo::gbk("晴天"), 0)).status, 400);
}

TEST_F(DemoServiceTest, BrokenQueriesStillGetAPage) {
    for (const std::string target : {"/zsmp3", "/zsmp3?word=%", "/zsmp3?word=\xB4&bg=x", "/zsmp3?bg=99999999999"})
        EXPECT_EQ(get(port_, target).status, 200) << target;
}

TEST_F(DemoServiceTest, SongsAreMp3FilesOfTheDeclaredLength) {
    const Reply page = get(port_, pageTarget("Sky", 1));
    const auto songs = songAddresses(page.body);
    ASSERT_FALSE(songs.empty());
    for (const auto& path : songs) {
        const Reply song = get(port_, path);
        ASSERT_EQ(song.status, 200) << path;
        EXPECT_EQ(song.headers.at("content-type"), "audio/mpeg");
        EXPECT_EQ(song.headers.at("content-length"), std::to_string(song.body.size()));
        ASSERT_GE(song.body.size(), 4u);
        EXPECT_EQ(static_cast<unsigned char>(song.body[0]), 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(song.body[1]) & 0xE0, 0xE0);
    }
}

TEST_F(DemoServiceTest, SongAddressCutWithTheSpaceBeforeTargetStillWorks) {
    const Reply song = get(port_, "/songs/abc-0-1.mp3%20");
    EXPECT_EQ(song.status, 200);
    EXPECT_EQ(song.body, get(port_, "/songs/abc-0-1.mp3").body);
}

TEST_F(DemoServiceTest, ListenOnlySongAnswersWithAPageBackgroundAndFrame) {
    std::string listen;
    for (const auto& path : songAddresses(get(port_, pageTarget("Sky", 0)).body))
        if (path.find("listen-") != std::string::npos) listen = path;
    ASSERT_FALSE(listen.empty());
    const Reply html = get(port_, listen);
    ASSERT_EQ(html.status, 200);
    EXPECT_NE(html.headers.at("content-type").find("text/html"), std::string::npos);
    EXPECT_NE(html.body.find("<body background=\"bg.gif\">"), std::string::npos);
    EXPECT_NE(html.body.find("<frame src=\"player.htm\""), std::string::npos);

    const Reply gif = get(port_, "/songs/bg.gif");
    ASSERT_EQ(gif.status, 200);
    EXPECT_EQ(gif.headers.at("content-type"), "image/gif");
    EXPECT_EQ(gif.body.substr(0, 6), "GIF89a");
    const Reply frame = get(port_, "/songs/player.htm");
    EXPECT_EQ(frame.status, 200);
    EXPECT_NE(frame.headers.at("content-type").find("text/html"), std::string::npos);
}

TEST_F(DemoServiceTest, UnknownPathsAreNotFound) {
    for (const std::string target : {"/", "/songs/", "/songs/a.wma", "/songs/ABC.mp3", "/zsmp3x", "/songs/bg.gif/x",
                                     "/songs/../songs/bg.gif.mp3"})
        EXPECT_EQ(get(port_, target).status, 404) << target;
}

TEST(DemoServiceProcess, StopsCleanlyOnSigintAndSigterm) {
    for (int signal : {SIGINT, SIGTERM}) {
        DemoServiceProcess service;
        ASSERT_TRUE(service.firstLine().starts_with("http://127.0.0.1:"));
        EXPECT_EQ(service.stopWith(signal), std::optional<int>(0)) << "signal " << signal;
    }
}

// Clients that keep their connection open after an answer, as the
// program's own client does, hold up no one else.
TEST(DemoServiceProcess, IdleKeptAliveConnectionsHoldUpNoOtherClient) {
    DemoServiceProcess service;
    const int port = service.port();
    ASSERT_GT(port, 0);
    // Far more than the handful of workers a fixed pool would have. Each is
    // answered in milliseconds; had each idle one held a worker until its
    // keep-alive ran out (5 s), the last would wait 15 s and more, so the
    // bound tells the two apart and a sanitizer build on a busy machine
    // stays well inside it.
    constexpr int kIdle = 32;
    constexpr auto kBound = std::chrono::seconds(10);
    std::vector<std::unique_ptr<Fd>> idle;
    for (int i = 0; i < kIdle; ++i) {
        idle.push_back(connectTo(port));
        ASSERT_TRUE(sendKeptAliveGet(idle.back()->get(), "/songs/bg.gif")) << "connection " << i;
    }
    const auto answered = std::chrono::steady_clock::now() + kBound;
    for (int i = 0; i < kIdle; ++i) ASSERT_TRUE(readOneAnswer(idle[i]->get(), answered)) << "connection " << i;

    // All of them open and idle now: a result page on a new connection.
    const auto fresh = connectTo(port);
    ASSERT_TRUE(sendKeptAliveGet(fresh->get(), pageTarget("Sky", 0)));
    EXPECT_TRUE(readOneAnswer(fresh->get(), std::chrono::steady_clock::now() + kBound));
    // And on one of the idle ones.
    ASSERT_TRUE(sendKeptAliveGet(idle.front()->get(), pageTarget("Sky", 1)));
    EXPECT_TRUE(readOneAnswer(idle.front()->get(), std::chrono::steady_clock::now() + kBound));
}

TEST(DemoServiceProcess, RefusesABadPortAndAPortInUse) {
    DemoServiceProcess bad({"--port", "70000"});
    EXPECT_EQ(bad.reap(), std::optional<int>(2));

    Fd taken(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(taken.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(taken.get(), 1), 0);
    ASSERT_EQ(::getsockname(taken.get(), reinterpret_cast<sockaddr*>(&addr), &length), 0);
    DemoServiceProcess busy({"--port", std::to_string(ntohs(addr.sin_port))});
    EXPECT_EQ(busy.reap(), std::optional<int>(1));
}

}  // namespace
