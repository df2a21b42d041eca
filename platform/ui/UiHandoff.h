#pragma once
// The program's hand-off (platform/Handoff.h) on Qt's event loop: a queued
// hand-off wakes the loop with a queued call to this object; posted calls and
// timers go to a second object.
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
    void post(std::function<void()> fn) override;
    void postAfter(std::chrono::milliseconds delay, std::function<void()> fn) override;

protected:
    void wake() override;

private:
    QObject later_;  // posted calls and timers, apart from the hand-offs
};

}  // namespace platform
