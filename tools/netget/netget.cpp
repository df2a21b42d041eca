// netget URL...: fetches each URL in order with one client that has the
// program's settings (so a kept-alive connection and cookies carry from one
// URL to the next) and writes each body to standard output. A failure is
// reported on standard error and the next URL is tried; the exit status is
// the number of failed URLs (at most 100).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "http/NetHTTP.h"

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void reportFailure(const std::string& url, const std::string& what) {
    std::fprintf(stderr, "netget: %s: %s\n", url.c_str(), what.c_str());
}

// Fetches one URL to standard output; false (after reporting) on failure.
bool fetch(net::TNetHTTP& http, const std::string& url) {
    try {
        const std::string body = http.Get(url);
        if (!writeAll(STDOUT_FILENO, body)) {
            reportFailure(url, "cannot write to standard output");
            return false;
        }
        return true;
    } catch (const net::ENetHTTPProtocolException& e) {
        reportFailure(url, std::string(e.ClassName()) + ": " + e.Message() +
                               " (ReplyCode " + std::to_string(e.ReplyCode()) + ")");
    } catch (const net::ENetException& e) {
        reportFailure(url, std::string(e.ClassName()) + ": " + e.Message());
    } catch (const std::exception& e) {
        reportFailure(url, std::string("exception: ") + e.what());
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: netget URL...\n");
        return 100;
    }
    net::TNetHTTP http;
    net::ApplyProgramSettings(http);
    int failed = 0;
    for (int i = 1; i < argc; ++i)
        if (!fetch(http, argv[i])) ++failed;
    return std::min(failed, 100);
}
