#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace fernhollow::test {

// One Notify call as the server received it, and the id it answered with.
struct ReceivedNotification {
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
    uint id = 0;
};

// Owns org.freedesktop.Notifications and records every Notify call, answering ids 1, 2, 3, …,
// on a bus connection of its own, so calls travel through the bus daemon as to a real server.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotificationServer();
    ~FakeNotificationServer() override;

    // False when the name could not be taken, for instance without a bus.
    bool isRegistered() const { return registered_; }
    const std::vector<ReceivedNotification>& received() const { return received_; }
    // A server that stops answering records the calls but never replies, like a hung daemon.
    void setAnswering(bool answering) { answering_ = answering; }

public Q_SLOTS:
    uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int expire_timeout);

private:
    QDBusConnection connection_;
    bool registered_ = false;
    bool answering_ = true;
    uint lastId_ = 0;
    std::vector<ReceivedNotification> received_;
};

} // namespace fernhollow::test
