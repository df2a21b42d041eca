// demo-service [--port N]: the bundled demo search service on 127.0.0.1.
// Prints its address on the first line of stdout and serves until SIGINT or
// SIGTERM; an address that cannot be written ends it with status 1.
#include "tools/demo-service/DemoService.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "tools/common/StandardStreams.h"

namespace {

std::optional<int> parsePort(const char* text) {
    if (*text == '\0' || std::strlen(text) > 5) return std::nullopt;
    int port = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return std::nullopt;
        port = port * 10 + (*p - '0');
    }
    if (port > 65535) return std::nullopt;
    return port;
}

constexpr const char* kUsage =
    "usage: demo-service [--port N]\n"
    "  Serves the demo search service on 127.0.0.1 port N (0 or absent: any free\n"
    "  port), prints its address on the first line and serves until SIGINT or\n"
    "  SIGTERM.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    tools::guardStandardStreams();
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return tools::finishStandardOutput("demo-service") ? 0 : 1;
        }
        if (arg == "--port" && i + 1 < argc) {
            const auto parsed = parsePort(argv[++i]);
            if (!parsed) return usage();
            port = *parsed;
        } else {
            return usage();
        }
    }

    // Signals are taken by sigtimedwait below, never by a handler: blocked
    // here, before the server starts any thread, so every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    demo::DemoService service;
    const int bound = service.bind(port);
    if (bound < 0) {
        std::fprintf(stderr, "demo-service: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    // Nobody could find a service whose address went nowhere.
    std::fputs((service.address() + "\n").c_str(), stdout);
    if (!tools::finishStandardOutput("demo-service")) return 1;

    std::atomic<bool> serving = true;
    std::atomic<bool> failed = false;
    {
        std::jthread listener([&] {
            failed = !service.run();
            serving = false;
        });
        const timespec tick{0, 50 * 1000 * 1000};
        while (serving) {
            if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
        }
        // The library ignores a stop that comes before it has started
        // serving, so repeat it until serving has ended.
        while (serving) {
            service.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return failed ? 1 : 0;
}
