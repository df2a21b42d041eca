#include "http/NetComponent.h"

#include <algorithm>
#include <thread>

namespace net {

const char* NetStatusText(TNetStatus status) {
    switch (status) {
        case hsResolving: return "Resolving hostname %s.";
        case hsConnecting: return "Connecting to %s.";
        case hsConnected: return "Connected.";
        case hsDisconnecting: return "Disconnecting.";
        case hsDisconnected: return "Disconnected.";
        case hsStatusText:
        case ftpTransfer:
        case ftpReady:
        case ftpAborted: return "%s";
    }
    return "%s";
}

std::string FormatStatusText(std::string_view pattern,
                             std::initializer_list<std::string_view> arguments) {
    std::string out;
    out.reserve(pattern.size());
    auto next = arguments.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 's') {
                if (next != arguments.end()) out += *next++;
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

// ---- TNetBaseComponent

TNetBaseComponent::~TNetBaseComponent() {
    // Tell the watchers first, then stop watching others.
    const auto watchers = watchers_;
    for (TNetBaseComponent* w : watchers) {
        std::erase(w->watched_, this);
        w->Notification(this);
    }
    for (TNetBaseComponent* w : watched_) std::erase(w->watchers_, this);
}

void TNetBaseComponent::FreeNotification(TNetBaseComponent* watcher) {
    if (!watcher || watcher == this) return;
    if (std::find(watchers_.begin(), watchers_.end(), watcher) == watchers_.end()) {
        watchers_.push_back(watcher);
        watcher->watched_.push_back(this);
    }
}

void TNetBaseComponent::RemoveFreeNotification(TNetBaseComponent* watcher) {
    if (!watcher) return;
    std::erase(watchers_, watcher);
    std::erase(watcher->watched_, this);
}

// ---- TNetComponent

void TNetComponent::NoteWorkBegin(TWorkMode mode, std::int64_t size) {
    WorkRecord& w = work_[mode];
    if (++w.level == 1) {
        w.expected = size;
        w.total = 0;
        if (OnWorkBegin) OnWorkBegin(this, mode, size);
    }
}

void TNetComponent::NoteWork(TWorkMode mode, std::int64_t count) {
    WorkRecord& w = work_[mode];
    if (w.level < 1) return;
    w.total += count;
    if (OnWork) OnWork(this, mode, w.total);
}

void TNetComponent::NoteWorkEnd(TWorkMode mode) {
    WorkRecord& w = work_[mode];
    if (w.level == 1 && OnWorkEnd) OnWorkEnd(this, mode);
    // Never below zero, so an unmatched End cannot swallow the next Begin.
    if (w.level > 0) --w.level;
}

void TNetComponent::SignalStatus(TNetStatus status,
                                 std::initializer_list<std::string_view> arguments) {
    if (!OnStatus) return;
    OnStatus(this, status, FormatStatusText(NetStatusText(status), arguments));
}

// ---- TNetAntiFreezeBase

std::atomic<TNetAntiFreezeBase*> TNetAntiFreezeBase::instance_{nullptr};

namespace {
// Static initialisation runs on the thread that starts the program.
std::thread::id gMainThread = std::this_thread::get_id();
}  // namespace

TNetAntiFreezeBase::TNetAntiFreezeBase() {
    TNetAntiFreezeBase* none = nullptr;
    instance_.compare_exchange_strong(none, this);
}

TNetAntiFreezeBase::~TNetAntiFreezeBase() {
    TNetAntiFreezeBase* self = this;
    instance_.compare_exchange_strong(self, nullptr);
}

bool TNetAntiFreezeBase::InUse() {
    const TNetAntiFreezeBase* a = instance_.load();
    return a && a->Active && std::this_thread::get_id() == gMainThread;
}

int TNetAntiFreezeBase::ActiveIdleTimeOut() {
    const TNetAntiFreezeBase* a = instance_.load();
    return a ? std::max(1, a->IdleTimeOut) : 250;
}

void TNetAntiFreezeBase::DoProcess() {
    if (!InUse()) return;
    instance_.load()->Process();
}

void TNetAntiFreezeBase::SetMainThread() { gMainThread = std::this_thread::get_id(); }

}  // namespace net
