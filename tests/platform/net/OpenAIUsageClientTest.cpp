#include "platform/net/OpenAIUsageClient.h"

#include "support/LocalHttpServer.h"
#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QCoroTask>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace fernhollow;
using OpenAIUsageClient::ClientError;
using OpenAIUsageClient::FetchResult;
using test::LocalHttpServer;

constexpr auto baseUrlVariable = "FERNHOLLOW_OPENAI_BASE_URL";
constexpr auto usagePath = "/v1/organization/usage/completions";
constexpr auto adminKey = "sk-admin-7Kq2xWv9PzLm4RtY";
// 2024-11-20T12:00:00-05:00, a few weeks after New York left summer time.
constexpr double novemberNoon = 1732122000.0;

QByteArray twoDays() {
    return QByteArray::fromStdString(test::dataText("openai/two-days-more-pages.json"));
}

class OpenAIUsageClientTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override { qunsetenv(baseUrlVariable); }

    const LocalHttpServer& serve(LocalHttpServer::Response response) {
        server_ = std::make_unique<LocalHttpServer>(std::move(response));
        EXPECT_TRUE(server_->isListening());
        qputenv(baseUrlVariable, server_->baseUrl().toUtf8());
        return *server_;
    }

    QCoro::Task<FetchResult> start(int days = 30, std::string key = adminKey, double now = novemberNoon,
                                   const QTimeZone& zone = QTimeZone::utc()) {
        clock_.seconds = now;
        return OpenAIUsageClient::fetchRecent(network_, days, std::move(key), clock_, zone);
    }

    FetchResult fetch() { return QCoro::waitFor(start()); }

    QNetworkAccessManager network_;
    test::ManualClock clock_;
    std::unique_ptr<LocalHttpServer> server_;
};

// A missing key never reaches the network: the task is finished before any event loop ran. How
// each member of an answer is checked is the decoder's own test; here only that a failure arrives.
TEST_F(OpenAIUsageClientTest, AMissingKeySendsNothingAndAnAnswerOfTheWrongShapeFailsToDecode) {
    EXPECT_EQ(OpenAIUsageClient::endpoint(),
              QUrl("https://api.openai.com/v1/organization/usage/completions"));
    serve({.body = R"({"data":{}})"});
    auto withoutKey = start(30, "");
    EXPECT_TRUE(withoutKey.isReady());
    const ClientError missing = std::get<ClientError>(QCoro::waitFor(withoutKey));
    EXPECT_EQ(missing.kind, ClientError::Kind::missingKey);
    EXPECT_EQ(missing.description(), "OpenAI key not set.");
    EXPECT_TRUE(server_->requests().empty());

    const ClientError failed = std::get<ClientError>(fetch());
    EXPECT_EQ(failed.kind, ClientError::Kind::decode);
    EXPECT_TRUE(failed.description().starts_with("OpenAI response decode failed: ")) << failed.description();
    EXPECT_NE(failed.text.find("data"), std::string::npos) << failed.text;
}

// One GET of the first page only (has_more is true) of daily usage by model, from the same
// wall-clock time `days` calendar days earlier; the key it sends is the report command's test.
TEST_F(OpenAIUsageClientTest, AsksOnceForDailyUsageByModelFromTheSameTimeOfDayDaysAgo) {
    const QTimeZone newYork("America/New_York");
    ASSERT_TRUE(newYork.isValid());
    const std::tuple<double, int, QTimeZone, long long> cases[] = {
        {novemberNoon, 30, QTimeZone::utc(), static_cast<long long>(novemberNoon) - 30 * 86400},
        // 2024-10-21T12:00:00-04:00: summer time, so one hour further back than 30 × 24 hours.
        {novemberNoon, 30, newYork, 1729526400},
        // 2024-03-20T12:00:00-04:00, and 30 days earlier 2024-02-19T12:00:00-05:00.
        {1710950400.0, 30, newYork, 1708362000},
        {novemberNoon + 0.999, 7, QTimeZone::utc(), static_cast<long long>(novemberNoon) - 7 * 86400},
    };
    for (const auto& [now, days, zone, expected] : cases) {
        serve({.body = twoDays()});
        const FetchResult answer = QCoro::waitFor(start(days, adminKey, now, zone));
        EXPECT_TRUE(std::holds_alternative<std::vector<UsageRecord>>(answer)) << now;
        ASSERT_EQ(server_->requests().size(), 1u);
        const LocalHttpServer::Request& request = server_->requests().front();
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target.toStdString(), std::string(usagePath) +
                                                    "?start_time=" + std::to_string(expected) +
                                                    "&bucket_width=1d&group_by=model&limit=180")
            << now;
        EXPECT_EQ(request.header("Content-Type"), QByteArray("application/json"));
    }
}

// The body is cut to its first 200 user-perceived characters: each unit below is one character
// but several bytes (or, for the combining accent, several code points), so a cut by bytes or
// code points would keep a different amount or split one.
TEST_F(OpenAIUsageClientTest, StatusOtherThan200ReportsTheStatusAndTheStartOfTheBody) {
    std::vector<std::tuple<int, std::string, std::string>> cases = {
        {403, "\xFF\xFE denied", "(no body)"}, {429, "no", "no"}, {500, "", ""}};
    for (const std::string unit : {"a", "\xF0\x9F\x98\x80", "e\xCC\x81"}) {
        std::string body;
        for (int i = 0; i < 300; ++i) {
            body += unit;
        }
        cases.emplace_back(500, body, body.substr(0, 200 * unit.size()));
    }
    for (const auto& [status, body, text] : cases) {
        serve({.status = status, .reason = "Refused", .body = QByteArray::fromStdString(body)});
        const ClientError failed = std::get<ClientError>(fetch());
        EXPECT_EQ(failed.kind, ClientError::Kind::http);
        EXPECT_EQ(failed.statusCode, status);
        EXPECT_EQ(failed.description(), "OpenAI HTTP " + std::to_string(status) + ": " + text) << body;
        EXPECT_EQ(server_->requests().size(), 1u);
    }
}

} // namespace
