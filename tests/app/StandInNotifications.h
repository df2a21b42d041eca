#pragma once
// A stand-in for the desktop's notification service on a test's own bus:
// it takes org.freedesktop.Notifications, records each notification it is
// sent and answers with a fresh id, and sends the signals a click or a
// close would. A virtual object, so it needs no meta-object code.
#include <mutex>
#include <string>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

#include "app/DesktopNotifier.h"

namespace apptest {

class StandInNotifications : public QDBusVirtualObject {
public:
    struct Shown {
        QString app;
        uint replaces = 0;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        uint id = 0;
    };

    // On the bus at `address`; `actions`: whether it says it has them.
    StandInNotifications(const std::string& address, bool actions = true, const QString& connectionName = nextName())
        : name_(connectionName),
          bus_(QDBusConnection::connectToBus(QString::fromStdString(address), name_)),
          actions_(actions) {
        registered_ = bus_.isConnected() && bus_.registerService(QString::fromLatin1(app::DesktopNotifier::kService)) &&
                      bus_.registerVirtualObject(QString::fromLatin1(app::DesktopNotifier::kPath), this);
    }
    ~StandInNotifications() override {
        bus_.unregisterObject(QString::fromLatin1(app::DesktopNotifier::kPath));
        bus_.unregisterService(QString::fromLatin1(app::DesktopNotifier::kService));
        QDBusConnection::disconnectFromBus(name_);
    }

    bool registered() const { return registered_; }
    std::vector<Shown> shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    std::size_t count() const { return shown().size(); }

    // What the service sends when the notification is clicked, or closed by the user.
    void click(uint id) { send("ActionInvoked", {QVariant::fromValue(id), QStringLiteral("default")}); }
    void closeByUser(uint id) { send("NotificationClosed", {QVariant::fromValue(id), QVariant::fromValue(2u)}); }
    void send(const char* member, const QVariantList& arguments) {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(app::DesktopNotifier::kPath),
                                                         QString::fromLatin1(app::DesktopNotifier::kInterface),
                                                         QString::fromLatin1(member));
        signal.setArguments(arguments);
        bus_.send(signal);
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QVariantList a = message.arguments();
        if (message.member() == QLatin1String("Notify") && a.size() == 8) {
            std::lock_guard lock(mutex_);
            Shown shown{a[0].toString(), a[1].toUInt(), a[3].toString(), a[4].toString(),
                        a[5].toStringList(), qdbus_cast<QVariantMap>(a[6]), ++lastId_};
            shown_.push_back(shown);
            return connection.send(message.createReply(QVariant::fromValue(shown.id)));
        }
        if (message.member() == QLatin1String("GetCapabilities")) {
            const QStringList caps = actions_ ? QStringList{QStringLiteral("body"), QStringLiteral("actions")}
                                              : QStringList{QStringLiteral("body")};
            return connection.send(message.createReply(caps));
        }
        return connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
    }

    static QString nextName() {
        static int next = 0;
        return QStringLiteral("stand-in-notifications-%1").arg(++next);
    }

private:
    QString name_;
    QDBusConnection bus_;
    bool actions_;
    bool registered_ = false;
    mutable std::mutex mutex_;
    std::vector<Shown> shown_;
    uint lastId_ = 0;
};

}  // namespace apptest
