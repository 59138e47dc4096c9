#include "support/LocalHttpServer.h"

#include "support/TempTree.h"

#include <QHostAddress>
#include <QProcess>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>

#include <functional>
#include <memory>

#include <sys/socket.h>

namespace fernhollow::test {
namespace {

// The first byte a TLS client sends: the type of a handshake record.
constexpr char tlsHandshakeRecord = 0x16;

// Hands each connection over as it comes, before anything is read from it.
class HandingOverServer final : public QTcpServer {
public:
    explicit HandingOverServer(std::function<void(qintptr)> take) : take_(std::move(take)) {}

protected:
    void incomingConnection(qintptr descriptor) override { take_(descriptor); }

private:
    std::function<void(qintptr)> take_;
};

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

LocalHttpServer::TlsIdentity LocalHttpServer::TlsIdentity::selfSigned() {
    const TempTree folder;
    const QString key = QString::fromStdString((folder / "key.pem").string());
    const QString certificate = QString::fromStdString((folder / "certificate.pem").string());
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-noenc",
                   "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                   "-keyout", key, "-out", certificate});
    if (!openssl.waitForFinished(30'000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        return {QSslCertificate(), QSslKey()};
    }
    const auto pem = [](const QString& path) {
        return QByteArray::fromStdString(readFile(path.toStdString()).value_or(""));
    };
    return {QSslCertificate(pem(certificate)), QSslKey(pem(key), QSsl::Ec)};
}

LocalHttpServer::LocalHttpServer(Response response)
    : response_(std::move(response)), server_(std::make_unique<QTcpServer>()) {
    QObject::connect(server_.get(), &QTcpServer::newConnection, server_.get(), [this] { accept(); });
    server_->listen(QHostAddress::LocalHost, 0);
}

LocalHttpServer::LocalHttpServer(Response response, TlsIdentity identity)
    : response_(std::move(response)), tls_(std::move(identity)),
      server_(std::make_unique<HandingOverServer>([this](qintptr descriptor) { acceptTls(descriptor); })) {
    server_->listen(QHostAddress::LocalHost, 0);
}

QString LocalHttpServer::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(QLatin1String(tls_ ? "https" : "http"))
        .arg(server_->serverPort());
}

void LocalHttpServer::accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        serve(socket);
    }
}

// Waits for the connection's first byte and looks at it without taking it, so that the socket
// serving the connection reads everything the client sent.
void LocalHttpServer::acceptTls(qintptr descriptor) {
    auto* firstByte = new QSocketNotifier(descriptor, QSocketNotifier::Read, server_.get());
    QObject::connect(firstByte, &QSocketNotifier::activated, firstByte, [this, firstByte, descriptor] {
        firstByte->setEnabled(false);
        firstByte->deleteLater();
        char first = 0;
        const bool handshake =
            ::recv(static_cast<int>(descriptor), &first, 1, MSG_PEEK) == 1 && first == tlsHandshakeRecord;
        auto* socket = new QSslSocket(server_.get());
        socket->setSocketDescriptor(descriptor);
        serve(socket);
        if (handshake) {
            ++tlsHandshakes_;
            socket->setLocalCertificate(tls_->certificate);
            socket->setPrivateKey(tls_->key);
            socket->startServerEncryption();
        }
    });
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
