#pragma once
// The demo search service: result pages, generated songs and the page a
// song address may answer with, served over HTTP on the loopback address.
#include <httplib.h>
#include <sys/socket.h>

#include <atomic>
#include <string>

namespace demo {

class DemoService {
public:
    DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port). Returns the bound port,
    // or -1 when the port cannot be had.
    int bind(int port);
    // "http://127.0.0.1:PORT/" once bound.
    std::string address() const { return baseUrl_ + "/"; }
    // Serves until stop(); returns false when serving could not start.
    bool run();
    void stop();

private:
    // The library listens with a backlog of 5: connections that come in a
    // burst beyond it wait for their client to try again, a second or more.
    class HttpServer : public httplib::Server {
    public:
        bool widenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
    };

    void handleResultPage(const httplib::Request& request, httplib::Response& response) const;
    void handleSong(const httplib::Request& request, httplib::Response& response) const;

    HttpServer server_;
    std::string baseUrl_;  // "http://127.0.0.1:PORT"
    std::atomic<bool> stopping_{false};  // ends slow answers still being sent
};

}  // namespace demo
