#include "sources/OpenAIUsageClient.h"

#include "support/LocalHttpServer.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace fernhollow;
using OpenAIUsageClient::ClientError;
using OpenAIUsageClient::FetchResult;
using test::LocalHttpServer;

constexpr auto baseUrlVariable = "FERNHOLLOW_OPENAI_BASE_URL";
constexpr auto timeoutVariable = "FERNHOLLOW_HTTP_TIMEOUT_MS";
constexpr auto usagePath = "/v1/organization/usage/completions";
constexpr auto adminKey = "sk-admin-7Kq2xWv9PzLm4RtY";

class ManualClock : public Clock {
public:
    explicit ManualClock(double now) : now_(now) {}
    double now() const override { return now_; }

private:
    double now_;
};

// 2024-11-20T12:00:00-05:00, a few weeks after New York left summer time.
constexpr double novemberNoon = 1732122000.0;

std::string result(std::string_view model, std::string_view counts) {
    return R"({"object":"organization.usage.completions.result",)" + std::string(counts) +
           R"(,"project_id":null,"user_id":null,"api_key_id":null,"model":")" + std::string(model) +
           R"(","batch":null,"input_audio_tokens":0,"output_audio_tokens":0})";
}

std::string bucket(long long startTime, std::string_view results) {
    return R"({"object":"bucket","start_time":)" + std::to_string(startTime) + R"(,"end_time":)" +
           std::to_string(startTime + 86400) + R"(,"results":[)" + std::string(results) + "]}";
}

// Three days as the API answers them, the last one without usage, and more pages on offer.
const std::string threeDays =
    R"({"object":"page","data":[)" +
    bucket(1730419200,
           result("gpt-4o-2024-08-06", R"("input_tokens":1000,"output_tokens":500,"num_model_requests":3,)"
                                       R"("input_cached_tokens":400)") +
               "," +
               result("gpt-4o-mini-2024-07-18", R"("input_tokens":20,"output_tokens":10,)"
                                                R"("num_model_requests":1,"input_cached_tokens":0)")) +
    "," +
    bucket(1730505600, result("gpt-4o-2024-08-06", R"("input_tokens":7,"output_tokens":null,)"
                                                   R"("num_model_requests":1,"input_cached_tokens":null)")) +
    "," + bucket(1730592000, "") + R"(],"has_more":true,"next_page":"page_AAA"})";

// Every test leaves the address and time-out overrides as it found them: unset.
class OpenAIUsageClientTest : public ::testing::Test {
protected:
    void SetUp() override { resetOverrides(); }
    void TearDown() override { resetOverrides(); }

    static void resetOverrides() {
        qunsetenv(baseUrlVariable);
        qunsetenv(timeoutVariable);
    }

    LocalHttpServer& serve(LocalHttpServer::Response response) {
        server_ = std::make_unique<LocalHttpServer>(std::move(response));
        EXPECT_TRUE(server_->isListening());
        qputenv(baseUrlVariable, server_->baseUrl().toUtf8());
        return *server_;
    }

    FetchResult fetch(int days = 30, std::string key = adminKey, double now = novemberNoon,
                      const QTimeZone& zone = QTimeZone::utc()) {
        const ManualClock clock(now);
        return QCoro::waitFor(OpenAIUsageClient::fetchRecent(network_, days, std::move(key), clock, zone));
    }

    // The one request the server saw.
    const LocalHttpServer::Request& onlyRequest() const {
        EXPECT_EQ(server_->requests().size(), 1u);
        return server_->requests().front();
    }

    QNetworkAccessManager network_;
    std::unique_ptr<LocalHttpServer> server_;
};

std::vector<UsageRecord> records(const FetchResult& result) {
    if (const auto* error = std::get_if<ClientError>(&result)) {
        ADD_FAILURE() << "unexpected error: " << error->description();
        return {};
    }
    return std::get<std::vector<UsageRecord>>(result);
}

ClientError error(const FetchResult& result) {
    if (const auto* failed = std::get_if<ClientError>(&result)) {
        return *failed;
    }
    ADD_FAILURE() << "got " << std::get<std::vector<UsageRecord>>(result).size() << " records, not an error";
    return {ClientError::Kind::transport, -1, "(no error)"};
}

// ---- Where the request goes ----

using Endpoint = OpenAIUsageClientTest;

TEST_F(Endpoint, DefaultsToOpenAIsApiOverHttps) {
    EXPECT_EQ(OpenAIUsageClient::endpoint(),
              QUrl(QStringLiteral("https://api.openai.com/v1/organization/usage/completions")));
}

TEST_F(Endpoint, LoopbackOverrideKeepsThePath) {
    qputenv(baseUrlVariable, "http://127.0.0.1:8123");
    EXPECT_EQ(OpenAIUsageClient::endpoint(), QUrl(QStringLiteral("http://127.0.0.1:8123") + usagePath));
}

TEST_F(Endpoint, PlainHttpElsewhereIsRefusedWithoutTraffic) {
    const LocalHttpServer& server = serve({});
    qputenv(baseUrlVariable, "http://example.com");
    EXPECT_TRUE(OpenAIUsageClient::endpoint().isEmpty());
    const ManualClock clock(novemberNoon);
    auto task = OpenAIUsageClient::fetchRecent(network_, 30, adminKey, clock, QTimeZone::utc());
    // Finished before any event loop ran: nothing can have gone out on the network.
    EXPECT_TRUE(task.isReady());
    const ClientError refused = error(QCoro::waitFor(task));
    EXPECT_EQ(refused.kind, ClientError::Kind::transport);
    EXPECT_FALSE(refused.description().empty());
    EXPECT_TRUE(server.requests().empty());
}

// ---- Without a key ----

TEST_F(OpenAIUsageClientTest, MissingKeySendsNothing) {
    const LocalHttpServer& server = serve({.body = QByteArray::fromStdString(threeDays)});
    const ManualClock clock(novemberNoon);
    auto task = OpenAIUsageClient::fetchRecent(network_, 30, "", clock, QTimeZone::utc());
    EXPECT_TRUE(task.isReady());
    const ClientError missing = error(QCoro::waitFor(task));
    EXPECT_EQ(missing.kind, ClientError::Kind::missingKey);
    EXPECT_EQ(missing.description(), "OpenAI key not set.");
    EXPECT_TRUE(server.requests().empty());
}

// ---- The request ----

using Request = OpenAIUsageClientTest;

TEST_F(Request, AsksForDailyUsageByModelWithTheKeyInTheHeader) {
    serve({.body = R"({"object":"page","data":[],"has_more":false,"next_page":null})"});
    EXPECT_TRUE(records(fetch(30)).empty());

    const LocalHttpServer::Request& request = onlyRequest();
    EXPECT_EQ(request.method, "GET");
    const qsizetype question = request.target.indexOf('?');
    EXPECT_EQ(request.target.left(question), usagePath);
    EXPECT_EQ(request.target.mid(question + 1).toStdString(),
              "start_time=" + std::to_string(static_cast<long long>(novemberNoon) - 30 * 86400) +
                  "&bucket_width=1d&group_by=model&limit=180");
    EXPECT_EQ(request.header("Authorization"), QByteArray("Bearer ") + adminKey);
    EXPECT_EQ(request.header("Content-Type"), QByteArray("application/json"));
}

qint64 requestedStartTime(const LocalHttpServer::Request& request) {
    const QUrlQuery query(QUrl(QString::fromLatin1(request.target)));
    bool number = false;
    const qint64 start = query.queryItemValue(QStringLiteral("start_time")).toLongLong(&number);
    EXPECT_TRUE(number) << request.target.toStdString();
    return start;
}

TEST_F(Request, StartTimeIsTheSameWallClockTimeDaysEarlierAcrossTheAutumnChange) {
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    serve({.body = R"({"data":[]})"});
    records(fetch(30, adminKey, novemberNoon, newYork));
    // 2024-10-21T12:00:00-04:00: summer time, so one hour further back than 30 × 24 hours.
    EXPECT_EQ(requestedStartTime(onlyRequest()), 1729526400);
    EXPECT_EQ(requestedStartTime(onlyRequest()), static_cast<qint64>(novemberNoon) - 30 * 86400 - 3600);
}

TEST_F(Request, StartTimeIsTheSameWallClockTimeDaysEarlierAcrossTheSpringChange) {
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    serve({.body = R"({"data":[]})"});
    // 2024-03-20T12:00:00-04:00, and 30 days earlier 2024-02-19T12:00:00-05:00.
    constexpr double marchNoon = 1710950400.0;
    records(fetch(30, adminKey, marchNoon, newYork));
    EXPECT_EQ(requestedStartTime(onlyRequest()), 1708362000);
    EXPECT_EQ(requestedStartTime(onlyRequest()), static_cast<qint64>(marchNoon) - 30 * 86400 + 3600);
}

TEST_F(Request, StartTimeDropsTheFractionOfASecond) {
    serve({.body = R"({"data":[]})"});
    records(fetch(7, adminKey, novemberNoon + 0.999));
    EXPECT_EQ(requestedStartTime(onlyRequest()), static_cast<qint64>(novemberNoon) - 7 * 86400);
}

// ---- A 200 answer ----

using Answer = OpenAIUsageClientTest;

TEST_F(Answer, OneRecordPerResultFromTheFirstPageOnly) {
    const LocalHttpServer& server = serve({.body = QByteArray::fromStdString(threeDays)});
    const auto usage = records(fetch());
    // has_more is true, yet only the first page is asked for.
    EXPECT_EQ(server.requests().size(), 1u);
    ASSERT_EQ(usage.size(), 3u);

    EXPECT_EQ(usage[0].messageId, "openai:1730419200:gpt-4o-2024-08-06");
    EXPECT_DOUBLE_EQ(usage[0].timestamp, 1730419200.0);
    EXPECT_EQ(usage[0].model, "gpt-4o-2024-08-06");
    EXPECT_EQ(usage[0].inputTokens, 1000);
    EXPECT_EQ(usage[0].outputTokens, 500);
    EXPECT_EQ(usage[0].cacheReadInputTokens, 400);
    EXPECT_EQ(usage[0].cacheCreationInputTokens, 0);
    EXPECT_EQ(usage[0].cacheCreation1hTokens, 0);
    EXPECT_EQ(usage[0].projectPath, "openai");
    EXPECT_EQ(usage[0].sessionId, "openai-gpt-4o-2024-08-06");

    EXPECT_EQ(usage[1].messageId, "openai:1730419200:gpt-4o-mini-2024-07-18");
    EXPECT_EQ(usage[1].inputTokens, 20);
    EXPECT_EQ(usage[1].outputTokens, 10);
    EXPECT_EQ(usage[1].sessionId, "openai-gpt-4o-mini-2024-07-18");

    // The same model a day later: only the start time tells the two apart.
    EXPECT_EQ(usage[2].messageId, "openai:1730505600:gpt-4o-2024-08-06");
    EXPECT_DOUBLE_EQ(usage[2].timestamp, 1730505600.0);
    EXPECT_EQ(usage[2].inputTokens, 7);
    EXPECT_EQ(usage[2].outputTokens, 0);
    EXPECT_EQ(usage[2].cacheReadInputTokens, 0);
    EXPECT_EQ(usage[2].sessionId, usage[0].sessionId);
}

TEST_F(Answer, EveryFetchGivesFreshIds) {
    serve({.body = QByteArray::fromStdString(threeDays)});
    std::set<std::string> ids;
    for (int round = 0; round < 2; ++round) {
        for (const UsageRecord& record : records(fetch())) {
            ids.insert(record.id.toString());
        }
    }
    EXPECT_EQ(ids.size(), 6u);
}

TEST_F(Answer, EmptyDataGivesNoRecords) {
    serve({.body = R"({"object":"page","data":[],"has_more":false,"next_page":null})"});
    const FetchResult answer = fetch();
    ASSERT_TRUE(std::holds_alternative<std::vector<UsageRecord>>(answer));
    EXPECT_TRUE(records(answer).empty());
}

TEST_F(Answer, AResultWithOnlyAModelCountsZero) {
    serve({.body = R"({"data":[{"start_time":1730419200,"results":[{"model":"o3"}]}]})"});
    const auto usage = records(fetch());
    ASSERT_EQ(usage.size(), 1u);
    EXPECT_EQ(usage[0].model, "o3");
    EXPECT_EQ(usage[0].inputTokens, 0);
    EXPECT_EQ(usage[0].outputTokens, 0);
    EXPECT_EQ(usage[0].cacheReadInputTokens, 0);
}

// ---- Answers other than 200 ----

struct StatusCase {
    int status;
    const char* reason;
};

void PrintTo(const StatusCase& status, std::ostream* os) {
    *os << status.status << ' ' << status.reason;
}

class ErrorStatus : public OpenAIUsageClientTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ErrorStatus, ReportsTheStatusAndTheBody) {
    const auto [status, reason] = GetParam();
    serve({.status = status,
           .reason = reason,
           .headers = {{"Content-Type", "application/json"}},
           .body = R"({"error":{"message":"Invalid key","type":"invalid_request_error"}})"});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::http);
    EXPECT_EQ(failed.statusCode, status);
    EXPECT_EQ(failed.text, R"({"error":{"message":"Invalid key","type":"invalid_request_error"}})");
    EXPECT_EQ(failed.description(), "OpenAI HTTP " + std::to_string(status) + ": " + failed.text);
    EXPECT_EQ(failed.description().find(adminKey), std::string::npos);
    EXPECT_EQ(onlyRequest().header("Authorization"), QByteArray("Bearer ") + adminKey);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ErrorStatus,
                         ::testing::Values(StatusCase{401, "Unauthorized"}, StatusCase{403, "Forbidden"},
                                           StatusCase{500, "Internal Server Error"},
                                           StatusCase{429, "Too Many Requests"}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) {
                             return "Status" + std::to_string(info.param.status);
                         });

using ErrorBody = OpenAIUsageClientTest;

TEST_F(ErrorBody, KeepsTheFirst200Characters) {
    QByteArray body;
    for (int i = 0; i < 1000; ++i) {
        body += static_cast<char>('a' + i % 26);
    }
    serve({.status = 500, .reason = "Internal Server Error", .body = body});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.text, body.left(200).toStdString());
    EXPECT_EQ(failed.description(), "OpenAI HTTP 500: " + body.left(200).toStdString());
}

TEST_F(ErrorBody, ShorterThan200CharactersIsKeptWhole) {
    serve({.status = 401, .reason = "Unauthorized", .body = "no"});
    EXPECT_EQ(error(fetch()).text, "no");
}

// Each unit below is one character but several bytes (or, for the combining accent, several
// code points), so a cut by bytes or code points would keep a different amount or split one.
TEST_F(ErrorBody, CountsCharactersNotBytes) {
    for (const std::string unit : {"\xC3\xA9", "\xF0\x9F\x98\x80", "e\xCC\x81", "\xE4\xB8\xAD"}) {
        std::string body;
        std::string expected;
        for (int i = 0; i < 300; ++i) {
            body += unit;
            if (i < 200) {
                expected += unit;
            }
        }
        serve({.status = 401, .reason = "Unauthorized", .body = QByteArray::fromStdString(body)});
        const ClientError failed = error(fetch());
        EXPECT_EQ(failed.kind, ClientError::Kind::http);
        EXPECT_EQ(failed.text, expected) << "unit " << unit;
    }
}

TEST_F(ErrorBody, NotUtf8ReadsNoBody) {
    serve({.status = 403, .reason = "Forbidden", .body = QByteArray("\xFF\xFE denied", 9)});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.statusCode, 403);
    EXPECT_EQ(failed.text, "(no body)");
    EXPECT_EQ(failed.description(), "OpenAI HTTP 403: (no body)");
}

TEST_F(ErrorBody, EmptyStaysEmpty) {
    serve({.status = 500, .reason = "Internal Server Error"});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.text, "");
    EXPECT_EQ(failed.description(), "OpenAI HTTP 500: ");
}

// ---- Redirects ----

class Redirect : public OpenAIUsageClientTest, public ::testing::WithParamInterface<StatusCase> {};

// Following the redirect would hand the key to whatever address the answer names.
TEST_P(Redirect, IsReportedAndNotFollowed) {
    const auto [status, reason] = GetParam();
    const LocalHttpServer elsewhere({.body = QByteArray::fromStdString(threeDays)});
    ASSERT_TRUE(elsewhere.isListening());
    const LocalHttpServer& server =
        serve({.status = status,
               .reason = reason,
               .headers = {{"Location", (elsewhere.baseUrl() + QLatin1String(usagePath)).toUtf8()}},
               .body = QByteArray::fromStdString(threeDays)});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::http);
    EXPECT_EQ(failed.statusCode, status);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(OpenAIUsageClientTest, RedirectToTheSameServerIsNotFollowedEither) {
    const LocalHttpServer& server =
        serve({.status = 302, .reason = "Found", .headers = {{"Location", "/v1/elsewhere"}}});
    EXPECT_EQ(error(fetch()).statusCode, 302);
    EXPECT_EQ(server.requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Statuses, Redirect,
                         ::testing::Values(StatusCase{301, "Moved Permanently"}, StatusCase{302, "Found"},
                                           StatusCase{307, "Temporary Redirect"},
                                           StatusCase{308, "Permanent Redirect"}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) {
                             return "Status" + std::to_string(info.param.status);
                         });

// ---- A 200 that is not the expected JSON ----

struct BadBody {
    const char* name;
    const char* body;
    const char* member;
};

void PrintTo(const BadBody& bad, std::ostream* os) {
    *os << bad.name;
}

class DecodeError : public OpenAIUsageClientTest, public ::testing::WithParamInterface<BadBody> {};

TEST_P(DecodeError, NamesTheMember) {
    const BadBody& bad = GetParam();
    serve({.body = bad.body});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::decode);
    EXPECT_EQ(failed.description().rfind("OpenAI response decode failed: ", 0), 0u) << failed.description();
    EXPECT_NE(failed.text.find(bad.member), std::string::npos) << failed.text;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, DecodeError,
    ::testing::Values(
        BadBody{"MissingData", R"({"object":"page"})", "data"},
        BadBody{"DataIsAnObject", R"({"data":{}})", "data"},
        BadBody{"MissingStartTime", R"({"data":[{"results":[]}]})", "start_time"},
        BadBody{"StartTimeIsAString", R"({"data":[{"start_time":"1730419200","results":[]}]})", "start_time"},
        BadBody{"MissingResults", R"({"data":[{"start_time":1730419200}]})", "results"},
        BadBody{"MissingModel", R"({"data":[{"start_time":1730419200,"results":[{"input_tokens":5}]}]})",
                "model"},
        BadBody{"InputTokensIsAString",
                R"({"data":[{"start_time":1730419200,"results":[{"model":"m","input_tokens":"5"}]}]})",
                "input_tokens"},
        BadBody{"InputTokensHasAFraction",
                R"({"data":[{"start_time":1730419200,"results":[{"model":"m","input_tokens":1.5}]}]})",
                "input_tokens"}),
    [](const ::testing::TestParamInfo<BadBody>& info) { return std::string(info.param.name); });

TEST_F(OpenAIUsageClientTest, BodyThatIsNotJsonIsADecodeError) {
    serve({.headers = {{"Content-Type", "text/html"}}, .body = "<html>upstream connect error</html>"});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::decode);
    EXPECT_EQ(failed.description().rfind("OpenAI response decode failed: ", 0), 0u) << failed.description();
}

// ---- No complete answer ----

// The body is a complete answer followed by padding the server never sends, so only the
// transfer error, not the JSON, can tell that the response was cut short.
TEST_F(OpenAIUsageClientTest, ConnectionClosedMidBodyIsATransportError) {
    const QByteArray answer = QByteArray::fromStdString(threeDays);
    serve({.body = answer + QByteArray(4096, ' '), .closeAfterBodyBytes = answer.size()});
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::transport);
    EXPECT_FALSE(failed.description().empty());
    EXPECT_EQ(failed.description().find(adminKey), std::string::npos);
}

TEST_F(OpenAIUsageClientTest, ServerThatNeverAnswersTimesOut) {
    const LocalHttpServer& server = serve({.neverAnswer = true});
    qputenv(timeoutVariable, "300");
    QElapsedTimer elapsed;
    elapsed.start();
    const ClientError failed = error(fetch());
    EXPECT_LT(elapsed.elapsed(), 10'000);
    EXPECT_EQ(failed.kind, ClientError::Kind::transport);
    EXPECT_FALSE(failed.description().empty());
    EXPECT_EQ(failed.description().find(adminKey), std::string::npos);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(OpenAIUsageClientTest, NothingListeningIsATransportError) {
    {
        const LocalHttpServer gone({});
        qputenv(baseUrlVariable, gone.baseUrl().toUtf8());
    }
    const ClientError failed = error(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::transport);
    EXPECT_FALSE(failed.description().empty());
}

} // namespace
