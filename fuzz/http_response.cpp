// Whole HTTP answers (status lines, heads, length / chunked / until-close
// bodies, interim answers, redirects, challenges, cookies) through the client
// over an in-memory server that, like a real one, answers each request head
// with the next of its answers: on one kept connection, or closing it after
// each answer. Two calls are made, so a kept connection may carry the second.
//
// Input: a byte of receive piece size and client settings, a byte of server
// settings, then the answers separated by "<<next>>". An answer may hold more
// than one message, or less.
//
// Besides the client's own bounds, the target checks what the answers'
// framing must guarantee: a request never goes out on a connection that
// still holds bytes of an earlier answer (they would pass for its answer),
// and a call that succeeds does so on a valid status line of the 2xx class.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>

#include "http/NetHTTP.h"
#include "http/NetStack.h"

namespace {

constexpr std::string_view kSeparator = "<<next>>";

class AnsweringServer : public net::TNetIOHandler {
public:
    AnsweringServer(std::deque<std::string> answers, std::size_t piece, bool closeAfterEach)
        : answers_(std::move(answers)), piece_(piece), closeAfterEach_(closeAfterEach) {}

    void watch(net::TNetTCPConnection& client) { client_ = &client; }

    void HandlerConnect(const std::string&, int, const std::string&, int, int, int, int) override {
        sent_.clear();
        position_ = 0;
        request_.clear();
        closing_ = false;
    }
    bool HandlerReadable(int) override {
        if (!active_) throw net::ENetConnClosedGracefully();
        return position_ < sent_.size() || closing_;
    }
    int HandlerReceive(void* buffer, int length) override {
        if (!active_) throw net::ENetClosedSocket();
        if (position_ < sent_.size()) {
            const std::size_t n = std::min({static_cast<std::size_t>(std::max(length, 0)), piece_,
                                            sent_.size() - position_});
            std::memcpy(buffer, sent_.data() + position_, n);
            position_ += n;
            return static_cast<int>(n);
        }
        if (closing_) return 0;
        net::GStack().SockSetLastError(net::wsa::kWouldBlock);
        return net::kSocketError;
    }
    int HandlerSend(const void* buffer, int length) override {
        if (!active_) throw net::ENetClosedSocket();
        // A new request: whatever the server sent before must all have been
        // read as the answers it belonged to.
        if (request_.empty() && (position_ != sent_.size() || client_->InputBuffer().Size() != 0))
            __builtin_trap();
        request_.append(static_cast<const char*>(buffer), static_cast<std::size_t>(std::max(length, 0)));
        for (std::size_t end = request_.find("\r\n\r\n"); end != std::string::npos;
             end = request_.find("\r\n\r\n")) {
            request_.erase(0, end + 4);
            answer();
        }
        return length;
    }

private:
    // Sends the next answer; without one, the server closes (or, keeping
    // connections, stays silent).
    void answer() {
        if (closing_) return;
        if (!answers_.empty()) {
            sent_ += answers_.front();
            answers_.pop_front();
        }
        closing_ = closeAfterEach_;
    }

    std::deque<std::string> answers_;
    std::size_t piece_;
    bool closeAfterEach_;
    net::TNetTCPConnection* client_ = nullptr;
    std::string sent_;
    std::size_t position_ = 0;
    std::string request_;
    bool closing_ = false;
};

bool isStatusLine(std::string_view line) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return line.size() >= 12 && line.substr(0, 7) == "HTTP/1." && digit(line[7]) && line[8] == ' ' &&
           digit(line[9]) && digit(line[10]) && digit(line[11]) && (line.size() == 12 || line[12] == ' ');
}

std::deque<std::string> splitAnswers(std::string_view input) {
    std::deque<std::string> answers;
    for (;;) {
        const std::size_t at = input.find(kSeparator);
        answers.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos) return answers;
        input.remove_prefix(at + kSeparator.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t server = data[1];
    const std::string_view input(reinterpret_cast<const char*>(data + 2), size - 2);

    AnsweringServer transport(splitAnswers(input), static_cast<std::size_t>(flags & 0x0F) * 7 + 1, server & 0x01);
    net::TNetHTTP http;
    net::ApplyProgramSettings(http);
    transport.watch(http);
    http.SetIOHandler(&transport);
    if (flags & 0x10) http.HandleRedirects = true;
    if (flags & 0x20) {
        http.HTTPOptions |= net::hoInProcessAuth;
        http.Request().Username = "user";
    }
    if (flags & 0x40) http.ProtocolVersion = net::pv1_0;
    if (flags & 0x80) http.SetMaxLineAction(net::maSplit);

    // The second call reads into a page of limited size, as the program does.
    http.UnusedBodyLimit = 4096;
    const char* urls[] = {"http://fuzz.test/zsmp3?ty=1&word=a b&bg=1", "http://fuzz.test/next"};
    for (int call = 0; call < 2; ++call) {
        net::TNetLimitedMemoryStream limited(4096);
        net::TNetMemoryStream unlimited;
        net::TNetMemoryStream& page = call == 0 ? unlimited : limited;
        try {
            const bool head = call == 0 && (server & 0x02);
            http.PerformRequest(head ? net::hmHead : net::hmGet, urls[call], nullptr, &page);
            // A head the client took stays within its bounds, and a page
            // comes only with a valid status line of success.
            if (http.Response().RawHeaders.count() > net::TNetHTTP::kMaxHeaderLines) __builtin_trap();
            const int code = http.Response().StatusCode();
            if (!isStatusLine(http.Response().StatusLine()) || code < 200 || code > 299) __builtin_trap();
        } catch (const net::ENetException&) {
            // Every malformed answer must end as one of the client's failures.
        }
        if (page.Size() > 4096 && call == 1) __builtin_trap();
        // A connection kept for the next call holds nothing unread.
        if (http.IsConnected() && http.InputBuffer().Size() != 0) __builtin_trap();
    }
    http.SetIOHandler(nullptr);
    return 0;
}
