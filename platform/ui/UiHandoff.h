#pragma once
// The program's hand-off (platform/Handoff.h) on Qt's event loop: hand-offs
// are queued calls to this object, so serveQueued can run them alone; posted
// calls and timers go to a second object, which serveQueued leaves alone.
#include <QObject>

#include "platform/Handoff.h"

namespace platform {

class UiHandoff : public QObject, public Handoff {
    Q_OBJECT
public:
    // Must be created on the UI thread; there is one per process.
    UiHandoff();
    ~UiHandoff() override;

    bool onUiThread() const override;
    void serveQueued() override;
    void post(std::function<void()> fn) override;
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override;

protected:
    void deliver(std::function<void()> call) override;

private:
    QObject later_;  // posted calls and timers: not served by serveQueued
};

}  // namespace platform
