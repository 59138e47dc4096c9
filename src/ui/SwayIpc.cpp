#include "ui/SwayIpc.h"

#include <QLocalSocket>

#include <cstring>

namespace fernhollow::SwayIpc {
namespace {

constexpr int timeoutMs = 1000;
const QByteArray magic = QByteArrayLiteral("i3-ipc");
// The magic, then the payload's length and the message type, both in native byte order.
const qsizetype headerSize = magic.size() + 2 * qsizetype(sizeof(quint32));
// No reply we ask for comes near this; a larger length means the stream is not sway's.
constexpr quint32 maxPayload = 64 * 1024 * 1024;

QByteArray header(quint32 length, quint32 type) {
    QByteArray bytes = magic;
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
    return bytes;
}

bool readUntil(QLocalSocket& socket, qsizetype bytes) {
    while (socket.bytesAvailable() < bytes) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            return false;
        }
    }
    return true;
}

} // namespace

QString socketPath() {
    return qEnvironmentVariable("SWAYSOCK");
}

std::optional<QByteArray> request(const QString& socket, Message type, const QByteArray& payload) {
    QLocalSocket connection;
    connection.connectToServer(socket);
    if (!connection.waitForConnected(timeoutMs)) {
        return std::nullopt;
    }
    connection.write(header(quint32(payload.size()), quint32(type)) + payload);
    if (!connection.waitForBytesWritten(timeoutMs) || !readUntil(connection, headerSize)) {
        return std::nullopt;
    }
    const QByteArray head = connection.read(headerSize);
    quint32 length = 0;
    std::memcpy(&length, head.constData() + magic.size(), sizeof length);
    if (!head.startsWith(magic) || length > maxPayload || !readUntil(connection, length)) {
        return std::nullopt;
    }
    return connection.read(length);
}

} // namespace fernhollow::SwayIpc
