#include "platform/ui/UiHandoff.h"

#include <utility>

#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace platform {

UiHandoff::UiHandoff() = default;

UiHandoff::~UiHandoff() { retire(); }

bool UiHandoff::onUiThread() const { return QThread::currentThread() == thread(); }

// Dropped with this object, so it never reaches a hand-off that is gone.
void UiHandoff::wake() {
    QMetaObject::invokeMethod(this, [this] { serveCalls(); }, Qt::QueuedConnection);
}

void UiHandoff::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(&later_, std::move(fn), Qt::QueuedConnection);
}

void UiHandoff::postAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    QTimer::singleShot(delay, Qt::PreciseTimer, &later_, std::move(fn));
}

}  // namespace platform
