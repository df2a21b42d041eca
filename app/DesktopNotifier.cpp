#include "app/DesktopNotifier.h"

#include <atomic>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace app {
namespace {

// The reason NotificationClosed gives for a notification the user closed.
constexpr uint kDismissedByUser = 2;
// The action a click on the notification itself runs.
const QString kDefaultAction = QStringLiteral("default");

// A connection of its own, never Qt's shared session bus: it goes with the
// notifier, and a test's bus never outlives its test.
QString uniqueConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("brelvomp3-notifications-%1").arg(++next);
}

}  // namespace

DesktopNotifier::DesktopNotifier(std::function<void(const QString&)> log, QObject* parent)
    : QObject(parent), log_(std::move(log)), connectionName_(uniqueConnectionName()) {}

DesktopNotifier::~DesktopNotifier() {
    if (!bus_) return;
    bus_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
}

QString DesktopNotifier::sessionBusAddress() {
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty()) return address;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) return {};
    const QString socket = runtime + QStringLiteral("/bus");
    // A socket, not just any file of that name (QFileInfo calls it neither file nor folder).
    const QFileInfo info(socket);
    if (!info.exists() || info.isFile() || info.isDir()) return {};
    return QStringLiteral("unix:path=") + socket;
}

// Connecting is a local socket's handshake with the bus, answered at once
// by a bus that runs; the calls after it never wait.
QDBusConnection* DesktopNotifier::bus() {
    if (bus_ && bus_->isConnected()) return bus_.get();
    if (bus_) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
    }
    const QString address = sessionBusAddress();
    if (address.isEmpty()) return nullptr;
    auto connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, connectionName_));
    if (!connection->isConnected()) {
        connection.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        return nullptr;
    }
    // From any sender: naming the service would make Qt look its owner up,
    // a call that waits. The ids tell this notifier's notifications apart.
    const QString path = QString::fromLatin1(kPath);
    const QString interface = QString::fromLatin1(kInterface);
    connection->connect(QString(), path, interface, QStringLiteral("ActionInvoked"), this,
                        SLOT(onActionInvoked(uint, QString)));
    connection->connect(QString(), path, interface, QStringLiteral("NotificationClosed"), this,
                        SLOT(onClosed(uint, uint)));
    bus_ = std::move(connection);
    // Asked before the first notification, so its answer comes first.
    const QDBusMessage ask = QDBusMessage::createMethodCall(QString::fromLatin1(kService), path, interface,
                                                            QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(ask, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onCapabilities);
    return bus_.get();
}

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    // No session bus, no desktop to tell: nothing to say either.
    QDBusConnection* connection = bus();
    if (!connection) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    // The desktop entry the package installs, for the service's icon and name.
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.example.brelvomp3"));
    call << QStringLiteral("BrelvoMP3") << current_ << QStringLiteral("brelvomp3") << summary << body
         << QStringList{kDefaultAction, QStringLiteral("显示下载列表")} << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(connection->asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onNotified);
}

void DesktopNotifier::onCapabilities(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QStringList> reply = *call;
    if (reply.isError()) return;
    serviceHasActions_ = reply.value().contains(QStringLiteral("actions"));
}

void DesktopNotifier::onNotified(QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        tellNoService();
        emit answered(false);
        return;
    }
    current_ = reply.value();
    serviceOwner_ = reply.reply().service();
    ++shown_;
    emit answered(true);
}

bool DesktopNotifier::fromService() const { return calledFromDBus() && message().service() == serviceOwner_; }

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == current_ && fromService() && action == kDefaultAction) emit clicked();
}

void DesktopNotifier::onClosed(uint id, uint reason) {
    if (id == 0 || id != current_ || !fromService()) return;
    current_ = 0;
    if (reason == kDismissedByUser && !serviceHasActions_) emit clicked();
}

void DesktopNotifier::tellNoService() {
    if (noServiceTold_) return;
    noServiceTold_ = true;
    if (log_) log_(QString::fromUtf8(kNoService));
}

}  // namespace app
