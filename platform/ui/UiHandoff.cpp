#include "platform/ui/UiHandoff.h"

#include <utility>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace platform {

UiHandoff::UiHandoff() = default;

UiHandoff::~UiHandoff() { retire(); }

bool UiHandoff::onUiThread() const { return QThread::currentThread() == thread(); }

void UiHandoff::serveQueued() {
    if (onUiThread()) QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void UiHandoff::deliver(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void UiHandoff::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(&later_, std::move(fn), Qt::QueuedConnection);
}

void UiHandoff::postAfter(std::chrono::milliseconds delay, std::function<void()> fn) {
    QTimer::singleShot(delay, Qt::PreciseTimer, &later_, std::move(fn));
}

}  // namespace platform
