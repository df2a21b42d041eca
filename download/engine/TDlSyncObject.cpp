#include "download/engine/TDlSyncObject.h"

#include <mutex>

#include "platform/Handoff.h"

namespace dl {

namespace {

std::atomic<int> g_lastRequestId{1};
std::atomic<bool> g_directCallDefault{false};

// Serialises direct calls across every notifier. Recursive: a method run
// directly may report again on the same thread.
std::recursive_mutex& directCallLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace

TDlSyncObject::TDlSyncObject() : DirectCall(g_directCallDefault.load()) {}

bool TDlSyncObject::DirectCallDefault() { return g_directCallDefault.load(); }

void TDlSyncObject::SetDirectCallDefault(bool value) { g_directCallDefault.store(value); }

int TDlSyncObject::LastRequestId() { return g_lastRequestId.load(); }

bool TDlSyncObject::OnUiThread() {
    platform::Handoff* handoff = platform::Handoff::instance();
    return !handoff || handoff->onUiThread();
}

void TDlSyncObject::ServeQueued() {
    if (platform::Handoff* handoff = platform::Handoff::instance()) handoff->serveQueued();
}

void TDlSyncObject::Synchronize(const std::function<void()>& method) {
    platform::Handoff* handoff = platform::Handoff::instance();
    if (DirectCall || !handoff) {
        std::lock_guard lock(directCallLock());
        method();
        return;
    }
    ++g_lastRequestId;
    if (handoff->onUiThread()) {
        method();
        return;
    }
    if (abandoned_.load()) throw platform::UiHandoffAbandoned();
    ++pending_;
    // Written on the UI thread, read here after run() has returned or thrown.
    bool started = false;
    try {
        handoff->run(
            [&] {
                started = true;
                --pending_;
                method();
            },
            [this] { return abandoned_.load(); });
    } catch (...) {
        if (!started) --pending_;
        throw;
    }
}

}  // namespace dl
