#include "support/LocalHttpServer.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>

namespace fernhollow::test {
namespace {

LocalHttpServer::Request parseHead(const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.front().trimmed().split(' ');
    LocalHttpServer::Request request{
        requestLine.front(), requestLine.size() > 1 ? requestLine[1] : QByteArray(), {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) {
            request.headers.emplace_back(lines[i].left(colon), lines[i].mid(colon + 1).trimmed());
        }
    }
    return request;
}

} // namespace

std::optional<QByteArray> LocalHttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

LocalHttpServer::LocalHttpServer(Response response)
    : response_(std::move(response)), server_(std::make_unique<QTcpServer>()) {
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { accept(); });
    server_->listen(QHostAddress::LocalHost, 0);
}

QString LocalHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_->serverPort());
}

void LocalHttpServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        serve(socket);
    }
}

void LocalHttpServer::serve(QTcpSocket* socket) {
    // Requests may arrive in pieces; the head is complete at the first blank line.
    auto received = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
        received->append(socket->readAll());
        const qsizetype headEnd = received->indexOf("\r\n\r\n");
        if (headEnd < 0) {
            return;
        }
        requests_.push_back(parseHead(received->left(headEnd)));
        received->clear();
        if (response_.neverAnswer) {
            return;
        }
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(response_.status) + ' ' + response_.reason + "\r\n";
        for (const auto& [name, value] : response_.headers) {
            head += name + ": " + value + "\r\n";
        }
        if (response_.announceLength) {
            head += "Content-Length: " + QByteArray::number(response_.body.size()) + "\r\n";
        }
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        socket->write(response_.closeAfterBodyBytes ? response_.body.left(*response_.closeAfterBodyBytes)
                                                    : response_.body);
        // Flushes what was written before closing, unlike abort().
        socket->disconnectFromHost();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

} // namespace fernhollow::test
