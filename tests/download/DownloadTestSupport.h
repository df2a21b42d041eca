#pragma once
// Shared pieces of the engine tests: bounded event pumping on the UI thread,
// canned HTTP answers, and a recorder of the reports a run delivers.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "download/engine/TDlDownloads.h"
#include "tests/support/FolderListing.h"
#include "tests/support/PumpEvents.h"
#include "tests/support/ScriptedTcpServer.h"

namespace dltest {

using testsupport::pumpUntil;

// Sets an environment variable for one scope and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

inline std::string httpResponse(const std::string& status, const std::string& headers, const std::string& body,
                                bool withLength = true) {
    std::string head = "HTTP/1.1 " + status + "\r\n" + headers;
    if (withLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return head + "Connection: close\r\n\r\n" + body;
}

// A server's script for one request: read its head, send `response`.
inline testsupport::ServerScript answer(const std::string& response) {
    return testsupport::ServerScript().expectUntil("\r\n\r\n").send(response);
}

// A server's script for one request that answers in pieces: reads its head,
// sends `head` with the first piece, then each further piece `gap` later.
inline testsupport::ServerScript answerInPieces(const std::string& head, const std::vector<std::string>& pieces,
                                                std::chrono::milliseconds gap) {
    testsupport::ServerScript script;
    script.expectUntil("\r\n\r\n").send(head + (pieces.empty() ? std::string() : pieces.front()));
    for (std::size_t i = 1; i < pieces.size(); ++i) script.pause(gap).send(pieces[i]);
    return script;
}

// The names in a folder, sorted; none when it is not there.
using testsupport::namesIn;

// A loopback port nobody listens on.
inline int refusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

inline std::string localUrl(int port, const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

// A file's bytes written whole, and read back whole (empty when it cannot be read).
inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
}

inline std::string readFile(const std::filesystem::path& path) {
    std::string bytes;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return bytes;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.append(buffer, n);
    std::fclose(in);
    return bytes;
}

// One report as the UI thread saw it.
struct Report {
    const dl::TDlDownloadItem* item;
    dl::TDlItemState state;
    bool headerPhase;
    std::uint32_t size;
    std::int32_t percent;
    bool onUiThread;
};

// Hooks both handlers of a collection and records what they see.
class Recorder {
public:
    explicit Recorder(dl::TDlDownloads& downloads) : downloads_(downloads) {
        downloads.OnItemProgress = [this](dl::TDlDownloadItem& item) {
            if (onItem) onItem(item);
            std::lock_guard lock(mutex_);
            reports_.push_back({&item, item.Progress.State.load(), item.Progress.HeaderPhase.load(),
                                item.Progress.Size.load(), item.Progress.Percent.load(),
                                dl::TDlSyncObject::OnUiThread()});
        };
        downloads.OnAllDone = [this](dl::TDlDownloads&) {
            std::lock_guard lock(mutex_);
            ++allDone_;
            allDoneOnUiThread_ = dl::TDlSyncObject::OnUiThread();
        };
    }

    // Starts the run and pumps until its end has been reported, then waits
    // for the manager thread. False when the run did not end within the limit.
    bool runToEnd(int limitMs = 10000) {
        downloads_.StartAsync();
        const bool ended = pumpUntil([this] { return allDone() > 0; }, limitMs);
        downloads_.WaitForRun();
        return ended;
    }

    std::vector<Report> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    std::vector<Report> reportsOf(const dl::TDlDownloadItem& item) const {
        std::vector<Report> out;
        for (const Report& r : reports())
            if (r.item == &item) out.push_back(r);
        return out;
    }
    int allDone() const {
        std::lock_guard lock(mutex_);
        return allDone_;
    }
    bool allDoneOnUiThread() const {
        std::lock_guard lock(mutex_);
        return allDoneOnUiThread_;
    }

    // Runs first in the per-item handler, on the UI thread.
    std::function<void(dl::TDlDownloadItem&)> onItem;

private:
    dl::TDlDownloads& downloads_;
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
    int allDone_ = 0;
    bool allDoneOnUiThread_ = false;
};

// One item in a collection of its own, with a recorder of its reports: the
// arrange step of a test of one transfer.
struct OneItemRun {
    dl::TDlDownloads downloads;
    Recorder recorder{downloads};
    dl::TDlDownloadItem& item = downloads.AddItem();

    OneItemRun() = default;
    explicit OneItemRun(std::string url) { item.Request.URL = std::move(url); }
    // The run to its end, within the limit.
    bool run(int limitMs = 10000) { return recorder.runToEnd(limitMs); }
};

// A collection of its own with `threads` download threads and a recorder of
// its reports, the items added one by one: the arrange step of a test of a
// run of several items.
struct CollectionRun {
    dl::TDlDownloads downloads;
    Recorder recorder{downloads};

    explicit CollectionRun(std::int32_t threads) { downloads.ThreadCount = threads; }
    // A new item for `url`, at the end of the collection.
    dl::TDlDownloadItem& add(std::string url) {
        dl::TDlDownloadItem& item = downloads.AddItem();
        item.Request.URL = std::move(url);
        return item;
    }
};

}  // namespace dltest
