#pragma once
// Shared pieces of the window tests: one QApplication with a UI hand-off,
// bounded event pumping, a store file in a temp dir, a working folder of the
// test's own, scripted page fetchers.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QElapsedTimer>

#include "platform/ui/UiHandoff.h"
#include "search/pipeline/PageFetcher.h"
#include "store/SongStore.h"
#include "tests/support/PumpEvents.h"
#include "tests/support/TempDir.h"

namespace apptest {

// The test binary's main() owns the QApplication and the UI hand-off.
inline QApplication& app() { return *qApp; }

using testsupport::pumpUntil;

inline void pumpFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// What a message box showed: caption, text and its buttons' texts.
struct ShownBox {
    QString caption;
    QString text;
    QStringList buttons;
};

// Reads the message box that opens next and answers it with `answer`. The
// result fills in when the box shows; keep it alive until then.
inline void answerNextBox(ShownBox& shown, QMessageBox::StandardButton answer) {
    QTimer::singleShot(50, [&shown, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown.caption = box->windowTitle();
        shown.text = box->text();
        for (QAbstractButton* b : box->buttons()) shown.buttons << b->text();
        box->button(answer)->click();
    });
}

// A store file in its own temp dir, optionally with rows.
struct StoreFile {
    testsupport::TempDir dir;
    std::string path = dir.file("mysong.mdb");
    explicit StoreFile(int rows = 0) {
        store::CreateEmptyStore(path);
        if (rows > 0) {
            store::SongStore s(path);
            for (int i = 0; i < rows; ++i)
                s.Insert("title " + std::to_string(i), "http://h/" + std::to_string(i) + ".mp3", "key");
        }
    }
};

// Works in a fresh folder for one scope; downloads go to its downmp3/.
struct WorkDir {
    testsupport::TempDir dir;
    std::filesystem::path old = std::filesystem::current_path();
    WorkDir() { std::filesystem::current_path(dir.path()); }
    ~WorkDir() { std::filesystem::current_path(old); }
    std::filesystem::path downloads() const { return dir.path() / "downmp3"; }
};

// The whole file, or nothing when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fetcher's answer script. A test may replace it while a stage thread of
// an earlier search still fetches, so each fetch takes a copy under a lock.
class Responder {
public:
    using Script = std::function<std::string(const std::string&)>;

    Responder& operator=(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
        return *this;
    }
    // The script's answer for url (which may throw); empty without a script.
    std::string operator()(const std::string& url) const {
        Script script;
        {
            std::lock_guard lock(mutex_);
            script = script_;
        }
        return script ? script(url) : std::string();
    }

private:
    mutable std::mutex mutex_;
    Script script_;
};

// Answers each fetch with `respond(url)` (which may throw), records URLs,
// and can block until interrupted to imitate a server that never answers.
class ScriptedFetcher : public search::PageFetcher {
public:
    Responder respond;
    std::atomic<bool> blockForever{false};

    std::string fetch(const std::string& url, const void* owner,
                      const std::function<bool()>& cancelled) override {
        std::unique_lock serial(serialMutex_);
        {
            std::unique_lock lock(mutex_);
            if (cancelled && cancelled()) throw std::runtime_error("cancelled");
            urls_.push_back(url);
            inFlight_ = owner;
            interrupted_ = false;
        }
        if (blockForever) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::seconds(30), [&] { return interrupted_; });
            inFlight_ = nullptr;
            throw std::runtime_error("interrupted");
        }
        std::string body;
        try {
            body = respond(url);
        } catch (...) {
            std::lock_guard lock(mutex_);
            inFlight_ = nullptr;
            throw;
        }
        std::lock_guard lock(mutex_);
        inFlight_ = nullptr;
        return body;
    }
    void interrupt(const void* owner) override {
        std::lock_guard lock(mutex_);
        if (inFlight_ == owner && owner) {
            interrupted_ = true;
            ++interrupts_;
            changed_.notify_all();
        }
    }
    std::vector<std::string> urls() {
        std::lock_guard lock(mutex_);
        return urls_;
    }
    int interrupts() {
        std::lock_guard lock(mutex_);
        return interrupts_;
    }

private:
    std::mutex serialMutex_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> urls_;
    const void* inFlight_ = nullptr;
    bool interrupted_ = false;
    int interrupts_ = 0;
};

}  // namespace apptest
