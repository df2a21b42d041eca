#pragma once
// A notification on the desktop, through its notification service
// (org.freedesktop.Notifications on the session bus). Every call is sent
// without waiting for its answer, so a missing or slow service never holds
// the UI thread. Without a session bus nothing happens; a bus without the
// service costs one log line in the whole run. A click on the notification
// is told by clicked().
// UI thread only.
#include <functional>
#include <memory>

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusConnection;
class QDBusMessage;
class QDBusPendingCallWatcher;

namespace app {

class DesktopNotifier : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";
    // A call the service has not answered within this long has failed.
    static constexpr int kCallTimeoutMs = 10000;
    static constexpr const char* kNoService = "没有桌面通知服务，下载列表下载完时不能发出通知。";

    // `log` appends a line to the window's log. The bus is found, and
    // connected to, when the first notification is sent.
    explicit DesktopNotifier(std::function<void(const QString&)> log, QObject* parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    // The session bus's address: DBUS_SESSION_BUS_ADDRESS, else the
    // socket "bus" in XDG_RUNTIME_DIR when there is one; empty: no bus. Never
    // the library's own guess, which may start a bus of its own.
    static QString sessionBusAddress();

    // Shows `summary` and `body`; a notification of this notifier still on
    // the screen is replaced.
    void notify(const QString& summary, const QString& body);

    // Notifications the service has taken.
    int shown() const { return shown_; }

signals:
    // The user clicked the notification shown last.
    void clicked();
    // The service answered a notification: taken, or not.
    void answered(bool taken);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    // Connected to the bus, or nullptr when there is none (tried again at
    // the next notification).
    QDBusConnection* bus();
    void onCapabilities(QDBusPendingCallWatcher* call);
    void onNotified(QDBusPendingCallWatcher* call);
    void tellNoService();
    // Whether the signal being handled comes from the service.
    bool fromService() const;

    std::function<void(const QString&)> log_;
    const QString connectionName_;
    std::unique_ptr<QDBusConnection> bus_;
    // The id of the notification shown last; 0 for none.
    uint current_ = 0;
    // The service's own name on the bus: only its signals are heard.
    QString serviceOwner_;
    // The service sends the click of a notification without actions as its
    // closing by the user.
    bool serviceHasActions_ = true;
    bool noServiceTold_ = false;
    int shown_ = 0;
};

}  // namespace app
