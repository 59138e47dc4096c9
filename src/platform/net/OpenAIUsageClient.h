#pragma once

#include "core/model/Clock.h"
#include "core/model/UsageRecord.h"

#include <QCoroTask>
#include <QTimeZone>
#include <QUrl>

#include <string>
#include <variant>
#include <vector>

class QNetworkAccessManager;

// Reads daily completions usage by model from the OpenAI organization usage API.
namespace fernhollow::OpenAIUsageClient {

struct ClientError {
    enum class Kind {
        http,       // an answer other than 200; `statusCode` and the start of the body in `text`
        decode,     // an answer that is not the expected JSON; the detail in `text`
        missingKey, // no key: nothing was sent
        transport,  // no answer at all (connection, time-out, TLS); Qt's message in `text`
    };
    Kind kind;
    int statusCode = 0;
    std::string text;

    // The text the settings window shows.
    std::string description() const;
};

using FetchResult = std::variant<std::vector<UsageRecord>, ClientError>;

// The endpoint on OpenAI's API host; FERNHOLLOW_OPENAI_BASE_URL replaces scheme and host for
// tests (see HttpEndpoints::baseUrl). Empty when that override is refused.
QUrl endpoint();

// The usage of the last `days` calendar days (in `zone`, before `clock`'s now), first page
// only. The key travels only in the request's Authorization header.
QCoro::Task<FetchResult> fetchRecent(QNetworkAccessManager& network, int days, std::string adminKey,
                                     const Clock& clock = Clock::system(),
                                     QTimeZone zone = QTimeZone::systemTimeZone());

} // namespace fernhollow::OpenAIUsageClient
