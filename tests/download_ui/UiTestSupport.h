#pragma once
// Shared pieces of the component and window tests: a loopback HTTP server
// with routes, a working directory of its own, bounded event pumping, and
// a run of the component without its window.
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>

#include "download/ui/TDlWebHTTPGet.h"
#include "tests/support/FolderListing.h"
#include "tests/support/PumpEvents.h"
#include "tests/support/TempDir.h"

namespace uitest {

using testsupport::pumpUntil;

// An HTTP server on 127.0.0.1 (ephemeral port) with the routes the test
// gives; it records each request's path. Stopped and joined when dropped.
class RouteServer {
public:
    explicit RouteServer(const std::function<void(httplib::Server&)>& routes) {
        routes(server_);
        server_.set_logger([this](const httplib::Request& request, const httplib::Response&) {
            std::lock_guard lock(mutex_);
            paths_.push_back(request.path);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop that comes before serving has begun is lost: wait for it.
        for (int i = 0; i < 500 && !server_.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~RouteServer() {
        server_.stop();
        thread_.join();
    }
    RouteServer(const RouteServer&) = delete;
    RouteServer& operator=(const RouteServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::vector<std::string> paths() const {
        std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
};

// Works in a fresh temporary folder for one scope: relative download
// folders land there.
class ScopedWorkDir {
public:
    ScopedWorkDir() : old_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.path()); }
    ~ScopedWorkDir() { std::filesystem::current_path(old_); }
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

private:
    testsupport::TempDir dir_;
    std::filesystem::path old_;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The files in a folder, by name.
inline constexpr auto& filesIn = testsupport::namesIn;

// The run dlget makes: on the manager thread with one download thread, the
// handlers reached through the hand-off, without a window. False when the
// run did not end within the limit.
inline bool runWithoutWindow(dl::TDlWebHTTPGet& get, int limitMs = 10000) {
    bool done = false;
    const dl::TDlNotifyEvent previous = get.OnProcessed;
    get.OnProcessed = [&](dl::DownloadComponent& sender) {
        done = true;
        if (previous) previous(sender);
    };
    get.Downloads().ThreadCount = 1;
    get.Download(false, true);
    const bool ended = pumpUntil([&] { return done; }, limitMs);
    get.Downloads().WaitForRun();
    get.OnProcessed = previous;
    return ended;
}

}  // namespace uitest
