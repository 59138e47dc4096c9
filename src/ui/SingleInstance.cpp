#include "ui/SingleInstance.h"

#include <QLocalSocket>
#include <QStandardPaths>

namespace fernhollow {
namespace {

constexpr int connectTimeoutMs = 1000;
const QByteArray showRequest = QByteArrayLiteral("show-panel\n");

} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->canReadLine() && socket->readLine() == showRequest) {
                    emit showRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

// In the user's runtime folder, which only the user can enter.
QString SingleInstance::defaultName() {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/fernhollow.sock");
}

bool SingleInstance::askRunningInstanceToShow() {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        return false;
    }
    socket.write(showRequest);
    return socket.waitForBytesWritten(connectTimeoutMs);
}

bool SingleInstance::listen() {
    // Only owner may connect; a socket left behind by a crashed instance is cleared first,
    // which is safe because nobody answered on it a moment ago.
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(name_)) {
        return true;
    }
    QLocalServer::removeServer(name_);
    return server_.listen(name_);
}

} // namespace fernhollow
