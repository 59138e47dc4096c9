#include "support/LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>

namespace fernhollow::test {

LocalHttpServer::LocalHttpServer(Response response) : response_(std::move(response)) {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { accept(); });
    server_.listen(QHostAddress::LocalHost, 0);
}

QString LocalHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
}

void LocalHttpServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        // Requests may arrive in pieces; the head is complete at the first blank line.
        auto received = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            received->append(socket->readAll());
            const qsizetype headEnd = received->indexOf("\r\n\r\n");
            if (headEnd < 0) {
                return;
            }
            const QList<QByteArray> requestLine = received->left(received->indexOf("\r\n")).split(' ');
            requestPaths_.push_back(requestLine.size() > 1 ? requestLine[1] : QByteArray());
            received->clear();
            if (response_.neverAnswer) {
                return;
            }
            QByteArray head =
                "HTTP/1.1 " + QByteArray::number(response_.status) + ' ' + response_.reason + "\r\n";
            for (const auto& [name, value] : response_.headers) {
                head += name + ": " + value + "\r\n";
            }
            head += "Content-Length: " + QByteArray::number(response_.body.size()) + "\r\n";
            head += "Connection: close\r\n\r\n";
            socket->write(head);
            socket->write(response_.closeAfterBodyBytes ? response_.body.left(*response_.closeAfterBodyBytes)
                                                        : response_.body);
            // Flushes what was written before closing, unlike abort().
            socket->disconnectFromHost();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

} // namespace fernhollow::test
