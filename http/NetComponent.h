#pragma once
// Base classes of the fetch client's parts: removal notices between parts,
// status texts, byte-count progress, and the shared socket stack's lifetime.
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "http/NetStack.h"

namespace net {

enum TWorkMode { wmRead, wmWrite };

enum TNetStatus {
    hsResolving,
    hsConnecting,
    hsConnected,
    hsDisconnecting,
    hsDisconnected,
    hsStatusText,
    ftpTransfer,
    ftpReady,
    ftpAborted
};

// The text template of a status ("Resolving hostname %s." ...).
const char* NetStatusText(TNetStatus status);
// Replaces each "%s" of `pattern` with the next argument ("%%" gives "%").
std::string FormatStatusText(std::string_view pattern,
                             std::initializer_list<std::string_view> arguments);

// A part that other parts may reference: whoever asked with FreeNotification
// hears of its destruction through Notification and forgets it.
class TNetBaseComponent {
public:
    TNetBaseComponent() = default;
    TNetBaseComponent(const TNetBaseComponent&) = delete;
    TNetBaseComponent& operator=(const TNetBaseComponent&) = delete;
    virtual ~TNetBaseComponent();

    // `watcher` gets Notification(this) when this part is destroyed.
    void FreeNotification(TNetBaseComponent* watcher);
    void RemoveFreeNotification(TNetBaseComponent* watcher);

protected:
    // `component` is being destroyed; drop every reference to it.
    virtual void Notification(TNetBaseComponent* component) { (void)component; }

private:
    std::vector<TNetBaseComponent*> watchers_;  // told when this part goes
    std::vector<TNetBaseComponent*> watched_;   // parts this one watches
};

using TNetNotifyEvent = std::function<void(TNetBaseComponent* sender)>;
using TNetStatusEvent =
    std::function<void(TNetBaseComponent* sender, TNetStatus status, const std::string& text)>;
using TNetWorkBeginEvent =
    std::function<void(TNetBaseComponent* sender, TWorkMode mode, std::int64_t expectedSize)>;
using TNetWorkEvent =
    std::function<void(TNetBaseComponent* sender, TWorkMode mode, std::int64_t total)>;
using TNetWorkEndEvent = std::function<void(TNetBaseComponent* sender, TWorkMode mode)>;

// Base of the connection, the transport and the HTTP client. Every live
// instance keeps the shared socket stack alive.
class TNetComponent : public TNetBaseComponent {
public:
    TNetComponent() = default;
    ~TNetComponent() override = default;

    TNetStatusEvent OnStatus;
    TNetWorkBeginEvent OnWorkBegin;
    TNetWorkEvent OnWork;
    TNetWorkEndEvent OnWorkEnd;

    // Nested progress: only the outermost Begin/End of a mode fire events.
    virtual void NoteWorkBegin(TWorkMode mode, std::int64_t size);
    virtual void NoteWork(TWorkMode mode, std::int64_t count);
    virtual void NoteWorkEnd(TWorkMode mode);

    // Fires OnStatus with the status's text formatted with `arguments`.
    void SignalStatus(TNetStatus status, std::initializer_list<std::string_view> arguments = {});

private:
    struct WorkRecord {
        int level = 0;
        std::int64_t expected = 0;
        std::int64_t total = 0;
    };
    TNetStackLease stackLease_;
    WorkRecord work_[2];
};

// Hook for keeping a user interface responsive while the main thread blocks
// in socket calls. The program creates none; while one exists and is active,
// waits made on the main thread are cut into slices of IdleTimeOut ms and
// Process() runs between them.
class TNetAntiFreezeBase : public TNetBaseComponent {
public:
    TNetAntiFreezeBase();
    ~TNetAntiFreezeBase() override;

    bool Active = true;
    bool ApplicationHasPriority = true;
    int IdleTimeOut = 250;
    bool OnlyWhenIdle = true;

    // Lets the user interface run once.
    virtual void Process() = 0;

    // Gives the registered object a turn when it should have one.
    static void DoProcess();
    // True when an active object exists and the caller is the main thread.
    static bool InUse();
    // The active object's IdleTimeOut (only meaningful when InUse()).
    static int ActiveIdleTimeOut();
    // Marks the calling thread as the main (user interface) thread.
    static void SetMainThread();

private:
    static std::atomic<TNetAntiFreezeBase*> instance_;
};

}  // namespace net
