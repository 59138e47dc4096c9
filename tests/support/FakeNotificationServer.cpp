#include "support/FakeNotificationServer.h"

namespace fernhollow::test {
namespace {

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

// Each server gets a fresh connection: a name reused right after disconnectFromBus could
// hand back the closing one.
QString freshConnectionName() {
    static int count = 0;
    return QStringLiteral("fake-notification-server-%1").arg(++count);
}

} // namespace

FakeNotificationServer::FakeNotificationServer()
    : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, freshConnectionName())) {
    registered_ = connection_.isConnected() &&
                  connection_.registerObject(objectPath, this, QDBusConnection::ExportAllSlots) &&
                  connection_.registerService(serviceName);
}

FakeNotificationServer::~FakeNotificationServer() {
    // Releasing the name first, and waiting for the bus to confirm it, means the next test
    // finds the name free rather than still held by a connection being torn down.
    connection_.unregisterService(serviceName);
    connection_.unregisterObject(objectPath);
    QDBusConnection::disconnectFromBus(connection_.name());
}

uint FakeNotificationServer::Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                                    const QString& summary, const QString& body, const QStringList& actions,
                                    const QVariantMap& hints, int expire_timeout) {
    const uint id = ++lastId_;
    received_.push_back({app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout, id});
    if (!answering_) {
        setDelayedReply(true);
    }
    return id;
}

} // namespace fernhollow::test
