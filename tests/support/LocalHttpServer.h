#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace fernhollow::test {

// An HTTP/1.1 server on 127.0.0.1 that answers every request with one canned response. It
// lives on the thread that creates it and serves from that thread's event loop, so a test
// that blocks in a nested loop (QCoro::waitFor) is served while it waits.
class LocalHttpServer {
public:
    struct Response {
        int status = 200;
        QByteArray reason = "OK";
        std::vector<std::pair<QByteArray, QByteArray>> headers{};
        QByteArray body{};
        // Reads the request and then stays silent with the connection open.
        bool neverAnswer = false;
        // Announces the whole body's length but closes the connection after this many body
        // bytes, so the client sees a transfer cut short.
        std::optional<qsizetype> closeAfterBodyBytes{};
        // Without Content-Length the body ends where the connection does, as in a stream.
        bool announceLength = true;
    };

    // A certificate for 127.0.0.1 and its private key.
    struct TlsIdentity {
        QSslCertificate certificate;
        QSslKey key;

        // A new self-signed one made by the openssl command; null when that fails.
        static TlsIdentity selfSigned();
    };

    // The head of one request as it arrived.
    struct Request {
        QByteArray method;
        QByteArray target;
        std::vector<std::pair<QByteArray, QByteArray>> headers;

        // The value of the first header with this name, compared without regard to case as
        // HTTP does.
        std::optional<QByteArray> header(const QByteArray& name) const;
    };

    explicit LocalHttpServer(Response response);
    // Serves https with `identity`. A connection that does not open with a TLS handshake is
    // served in the clear all the same, so that a request sent in plain text is recorded.
    LocalHttpServer(Response response, TlsIdentity identity);
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool isListening() const { return server_->isListening(); }
    // "http://127.0.0.1:PORT" or, with TLS, "https://127.0.0.1:PORT", without a trailing slash.
    QString baseUrl() const;
    // The connections that opened with a TLS handshake, whether or not it then succeeded.
    int tlsHandshakes() const { return tlsHandshakes_; }
    // Every request received so far, in order of arrival.
    const std::vector<Request>& requests() const { return requests_; }

private:
    void accept();
    void acceptTls(qintptr descriptor);
    void serve(QTcpSocket* socket);

    Response response_;
    std::optional<TlsIdentity> tls_;
    int tlsHandshakes_ = 0;
    std::vector<Request> requests_;
    // Last, so the connections it owns close before the state their handlers touch is gone.
    std::unique_ptr<QTcpServer> server_;
};

} // namespace fernhollow::test
