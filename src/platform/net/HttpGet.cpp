#include "platform/net/HttpGet.h"

#include "platform/net/HttpEndpoints.h"

#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopedPointer>

#include <memory>

namespace fernhollow::HttpGet {
namespace {

// Aborts `reply` as soon as its body, announced or received, is larger than `maxBytes`: more
// than the answer asked for ever holds is not that answer, and a reply keeps its whole body
// in memory. Returns the flag it sets when it does.
std::shared_ptr<bool> limitBody(QNetworkReply& reply, qint64 maxBytes) {
    auto exceeded = std::make_shared<bool>(false);
    // Checked on every piece that arrives: the progress signal comes at most every 100 ms,
    // in which a fast link delivers far more than any limit.
    const auto check = [exceeded, &reply, maxBytes] {
        if (reply.header(QNetworkRequest::ContentLengthHeader).toLongLong() > maxBytes ||
            reply.bytesAvailable() > maxBytes) {
            *exceeded = true;
            reply.abort();
        }
    };
    QObject::connect(&reply, &QNetworkReply::metaDataChanged, &reply, check);
    QObject::connect(&reply, &QNetworkReply::readyRead, &reply, check);
    return exceeded;
}

} // namespace

QCoro::Task<Answer> fetch(QNetworkAccessManager& network, QNetworkRequest request, int defaultTimeoutMs,
                          qint64 maxBytes) {
    request.setTransferTimeout(HttpEndpoints::timeoutMs(defaultTimeoutMs));
    // A redirect could lead anywhere, plain http included, and would carry the request's
    // headers there; every address we fetch is fixed, so one that moves is reported instead.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Deleted later: this coroutine resumes inside the reply's finished signal, where deleting
    // the sender is not allowed.
    const QScopedPointer<QNetworkReply, QScopedPointerDeleteLater> reply(network.get(request));
    const std::shared_ptr<bool> tooLarge = limitBody(*reply, maxBytes);
    co_await reply.data();

    Answer answer;
    answer.tooLarge = *tooLarge;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        answer.status = status.toInt();
    }
    answer.complete = reply->error() == QNetworkReply::NoError;
    // An aborted transfer (a time-out) leaves the reply closed, with nothing to read.
    if (reply->isOpen()) {
        answer.body = reply->readAll();
    }
    answer.errorText = reply->errorString();
    co_return answer;
}

} // namespace fernhollow::HttpGet
