#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <optional>

class QNetworkAccessManager;
class QNetworkRequest;

namespace fernhollow::HttpGet {

// What came back for one GET.
struct Answer {
    // The body was larger than allowed and the transfer was given up.
    bool tooLarge = false;
    // The HTTP status; none when no HTTP answer came at all.
    std::optional<int> status;
    // Whether the transfer ended without error: false for a time-out or a body cut short.
    bool complete = false;
    // What arrived; empty when the transfer was aborted.
    QByteArray body;
    // The transport's own words on why the transfer did not complete.
    QString errorText;
};

// GETs `request` with a transfer time-out of `defaultTimeoutMs` (shortened where tests ask,
// see HttpEndpoints::timeoutMs), following no redirect and giving up on a body larger than
// `maxBytes`. Callers add their own headers to `request`.
QCoro::Task<Answer> fetch(QNetworkAccessManager& network, QNetworkRequest request, int defaultTimeoutMs,
                          qint64 maxBytes);

} // namespace fernhollow::HttpGet
