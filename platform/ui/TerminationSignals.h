#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a call on the UI thread, so that a
// program asked to end from outside ends the way closing its window ends it:
// downloads and searches wound down, nothing half-written left behind.
// One instance at a time; create and destroy it on the UI thread.
#include <functional>
#include <memory>

#include <QObject>

#include "platform/TerminationSignalPipe.h"

class QSocketNotifier;

namespace platform {

class TerminationSignals : public QObject {
public:
    // `onSignal` runs on the UI thread with the signal's number, once per
    // signal delivered. Throws std::runtime_error when the signals cannot be
    // taken (another instance holds them, or no socket pair is to be had).
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    // The signals' earlier handling comes back.
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    TerminationSignalPipe pipe_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
