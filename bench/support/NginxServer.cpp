#include "bench/support/NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace benchsupport {

namespace fs = std::filesystem;

namespace {

// A port nobody listens on now (the kernel's choice for port 0).
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

std::string nginxProgram() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

}  // namespace

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t from = 0; from <= dirs.size();) {
        const std::size_t to = std::min(dirs.find(':', from), dirs.size());
        if (::access((dirs.substr(from, to - from) + "/" + program).c_str(), X_OK) == 0) return true;
        from = to + 1;
    }
    return false;
}

NginxServer::NginxServer(const fs::path& root, std::size_t slowBytesPerSecond) {
    const std::string nginx = nginxProgram();
    if (nginx.empty()) throw std::runtime_error("nginx is not installed (scripts/install-deps.sh installs it)");
    dir_ = fs::temp_directory_path() / ("bench_nginx." + std::to_string(::getpid()));
    fs::create_directories(dir_ / "tmp");
    port_ = freePort();
    const std::string d = dir_.string();
    {
        std::ofstream conf(dir_ / "nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "error_log " << d << "/error.log;\npid " << d << "/nginx.pid;\n"
             << "events { worker_connections 256; }\n"
             << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
             << "  default_type application/octet-stream;\n";
        for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf << "  " << t << "_temp_path " << d << "/tmp;\n";
        conf << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root.string() << ";\n"
             << "    location /slow/ { alias " << root.string() << "/; limit_rate " << slowBytesPerSecond << "; }\n"
             << "  }\n}\n";
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execl(nginx.c_str(), nginx.c_str(), "-q", "-p", d.c_str(), "-c", (d + "/nginx.conf").c_str(), nullptr);
        std::_Exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts(port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > until) {
            pid_ = -1;
            throw std::runtime_error("nginx did not start (see " + d + "/error.log)");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

NginxServer::~NginxServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string NginxServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace benchsupport
