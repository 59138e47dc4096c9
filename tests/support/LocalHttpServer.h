#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace fernhollow::test {

// An HTTP/1.1 server on 127.0.0.1 answering every request with one canned response, from the
// event loop of its thread, so a test blocked in QCoro::waitFor is served while it waits.
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
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    bool isListening() const { return server_->isListening(); }
    // "http://127.0.0.1:PORT", without a trailing slash.
    QString baseUrl() const;
    // Every request received so far, in order of arrival.
    const std::vector<Request>& requests() const { return requests_; }

private:
    void accept();
    void serve(QTcpSocket* socket);

    Response response_;
    std::vector<Request> requests_;
    // Last, so the connections it owns close before the state their handlers touch is gone.
    std::unique_ptr<QTcpServer> server_;
};

} // namespace fernhollow::test
