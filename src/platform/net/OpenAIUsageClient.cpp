#include "platform/net/OpenAIUsageClient.h"

#include "core/model/Utf8.h"
#include "core/sources/OpenAIUsage.h"
#include "platform/net/HttpEndpoints.h"
#include "platform/net/HttpGet.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTextBoundaryFinder>
#include <QUrlQuery>

#include <cmath>

namespace fernhollow::OpenAIUsageClient {
namespace {

constexpr auto apiHost = "https://api.openai.com";
constexpr auto usagePath = "/v1/organization/usage/completions";
constexpr int requestTimeoutMs = 60'000;
// Far above a page of 180 daily buckets by model.
constexpr qint64 maxAnswerBytes = 16 * 1024 * 1024;
constexpr int bodyCharacters = 200;

// The first 200 user-perceived characters: a cut inside a character would show a broken glyph.
std::string bodyExcerpt(const QByteArray& body) {
    if (!utf8::isValid(std::string_view(body.constData(), static_cast<std::size_t>(body.size())))) {
        return "(no body)";
    }
    const QString text = QString::fromUtf8(body);
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int count = 0; count < bodyCharacters; ++count) {
        const qsizetype next = characters.toNextBoundary();
        if (next < 0) {
            end = text.size();
            break;
        }
        end = next;
    }
    return text.left(end).toStdString();
}

qint64 startTime(int days, const Clock& clock, const QTimeZone& zone) {
    const auto now =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::trunc(clock.now() * 1000)), zone);
    const QDateTime start = now.addDays(-days);
    return (start.isValid() ? start : now).toSecsSinceEpoch();
}

} // namespace

std::string ClientError::description() const {
    switch (kind) {
    case Kind::http:
        return "OpenAI HTTP " + std::to_string(statusCode) + ": " + text;
    case Kind::decode:
        return "OpenAI response decode failed: " + text;
    case Kind::missingKey:
        return "OpenAI key not set.";
    case Kind::transport:
        return text;
    }
    return text;
}

QUrl endpoint() {
    QUrl url = HttpEndpoints::baseUrl("FERNHOLLOW_OPENAI_BASE_URL", apiHost);
    if (!url.isEmpty()) {
        url.setPath(QLatin1String(usagePath));
    }
    return url;
}

QCoro::Task<FetchResult> fetchRecent(QNetworkAccessManager& network, int days, std::string adminKey,
                                     const Clock& clock, QTimeZone zone) {
    if (adminKey.empty()) {
        co_return ClientError{ClientError::Kind::missingKey, 0, {}};
    }
    QUrl url = endpoint();
    if (url.isEmpty()) {
        co_return ClientError{ClientError::Kind::transport, 0, "The OpenAI address override was refused."};
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("start_time"), QString::number(startTime(days, clock, zone)));
    query.addQueryItem(QStringLiteral("bucket_width"), QStringLiteral("1d"));
    query.addQueryItem(QStringLiteral("group_by"), QStringLiteral("model"));
    query.addQueryItem(QStringLiteral("limit"), QStringLiteral("180"));
    url.setQuery(query);

    QNetworkRequest request(url);
    // Sent to this one address only: no redirect is followed, so the key never reaches another
    // host; an answer other than 200 is reported instead.
    request.setRawHeader("Authorization", "Bearer " + QByteArray::fromStdString(adminKey));
    request.setRawHeader("Content-Type", "application/json");
    auto fetching = HttpGet::fetch(network, request, requestTimeoutMs, maxAnswerBytes);
    const HttpGet::Answer answer = co_await std::move(fetching);
    if (answer.tooLarge) {
        co_return ClientError{ClientError::Kind::transport, 0, "The OpenAI answer was larger than 16 MB."};
    }
    if (!answer.status) {
        // No HTTP answer at all: the transport's own message says why.
        co_return ClientError{ClientError::Kind::transport, 0, answer.errorText.toStdString()};
    }
    if (*answer.status != 200) {
        co_return ClientError{ClientError::Kind::http, *answer.status, bodyExcerpt(answer.body)};
    }
    if (!answer.complete) {
        // A 200 whose body was cut short.
        co_return ClientError{ClientError::Kind::transport, 0, answer.errorText.toStdString()};
    }
    const QByteArray& body = answer.body;
    auto decoded =
        OpenAIUsage::decodeUsage(std::string_view(body.constData(), static_cast<std::size_t>(body.size())));
    if (auto* failure = std::get_if<OpenAIUsage::DecodeFailure>(&decoded)) {
        co_return ClientError{ClientError::Kind::decode, 0, std::move(failure->message)};
    }
    co_return std::move(std::get<std::vector<UsageRecord>>(decoded));
}

} // namespace fernhollow::OpenAIUsageClient
