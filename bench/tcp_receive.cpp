// Receiving a 100 MiB body from a loopback server: ReadIntoStream (counted
// and until close) against a plain recv() loop into a preallocated buffer.
// Prints GB/s (best and median of several runs).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/NetTCPClient.h"
#include "tests/support/ScriptedTcpServer.h"

namespace {

constexpr std::size_t kBodySize = 100u * 1024 * 1024;
constexpr int kRuns = 7;

using Clock = std::chrono::steady_clock;

std::shared_ptr<const std::string> makeBody() {
    auto body = std::make_shared<std::string>(kBodySize, '\0');
    for (std::size_t i = 0; i < body->size(); ++i) (*body)[i] = static_cast<char>(i * 131 + 7);
    return body;
}

int connectRaw(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("connect failed");
    return fd;
}

// One run: returns seconds, checks that every byte arrived.
using Run = std::function<double(int port)>;

// The plain loop: recv() 32 KiB at a time into storage sized up front. With
// `streamStorage` the storage comes from a TNetMemoryStream (allocated inside
// the timing, as ReadIntoStream does); otherwise it is a std::string filled
// before the timing starts.
double rawRecvLoop(int port, bool streamStorage) {
    std::string plain;
    if (!streamStorage) plain.assign(kBodySize, '\0');
    net::TNetMemoryStream stream;
    const int fd = connectRaw(port);
    const auto start = Clock::now();
    char* target = plain.data();
    if (streamStorage) {
        stream.ReserveCapacity(kBodySize);
        target = stream.BeginDirectWrite(kBodySize);
    }
    std::size_t got = 0;
    while (got < kBodySize) {
        const ssize_t n = ::recv(fd, target + got, std::min<std::size_t>(32768, kBodySize - got), 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (streamStorage) stream.CommitDirectWrite(static_cast<std::int64_t>(got));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    if (got != kBodySize) throw std::runtime_error("raw loop: short body");
    return seconds;
}

double readIntoStream(int port, bool untilClosed) {
    net::TNetTCPClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.OpenConnection();
    net::TNetMemoryStream stream;
    const auto start = Clock::now();
    client.ReadIntoStream(stream, untilClosed ? -1 : static_cast<std::int64_t>(kBodySize), untilClosed);
    const std::string body = stream.TakeString();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    client.CloseConnection();
    if (body.size() != kBodySize) throw std::runtime_error("ReadIntoStream: short body");
    return seconds;
}

void measure(const char* name, const Run& run, testsupport::ScriptedTcpServer& server,
             const std::string& body) {
    (void)body;
    std::vector<double> rates;
    for (int i = 0; i < kRuns; ++i) rates.push_back(kBodySize / run(server.port()) / 1e9);
    std::sort(rates.begin(), rates.end());
    std::printf("%-36s best %6.2f GB/s   median %6.2f GB/s   (%d runs of %zu MiB)\n", name,
                rates.back(), rates[rates.size() / 2], kRuns, kBodySize >> 20);
}

}  // namespace

int main() {
    const auto body = makeBody();
    testsupport::ServerScript script;
    script.send(body).close();
    testsupport::ScriptedTcpServer server(script);

    measure("ReadIntoStream (counted)", [](int port) { return readIntoStream(port, false); }, server, *body);
    measure("ReadIntoStream (until close)", [](int port) { return readIntoStream(port, true); }, server, *body);
    measure("raw recv() loop, stream storage", [](int port) { return rawRecvLoop(port, true); }, server, *body);
    measure("raw recv() loop, pre-touched string", [](int port) { return rawRecvLoop(port, false); }, server, *body);
    server.stop();
    return 0;
}
