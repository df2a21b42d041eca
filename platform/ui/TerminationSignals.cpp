#include "platform/ui/TerminationSignals.h"

#include <utility>

#include <QSocketNotifier>

namespace platform {

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal)
    : pipe_(std::move(onSignal)),
      notifier_(std::make_unique<QSocketNotifier>(pipe_.fd(), QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { pipe_.readSignals(); });
}

// Members go in reverse: the notifier before the pipe's socket closes.
TerminationSignals::~TerminationSignals() = default;

}  // namespace platform
