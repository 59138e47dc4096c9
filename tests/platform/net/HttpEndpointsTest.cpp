#include "platform/net/HttpEndpoints.h"

#include "core/model/ModelPricing.h"
#include "platform/net/OpenAIUsageClient.h"
#include "platform/net/PricingConfig.h"
#include "support/LocalHttpServer.h"
#include "support/TempTree.h"
#include "support/WithEnv.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace fernhollow;
using test::LocalHttpServer;

constexpr auto adminKey = "sk-admin-endpoints-test";

struct Client {
    const char* name;
    const char* baseUrlVariable;
    std::function<QUrl()> address;
    QByteArray goodAnswer;
    // One request; what went wrong, or nothing when it brought back what it asked for.
    std::function<std::optional<std::string>(QNetworkAccessManager&)> fetch;
};

const std::vector<Client>& clients() {
    static const std::vector<Client> all = {
        {"catalogue", "FERNHOLLOW_LITELLM_BASE_URL", PricingConfig::litellmURL,
         R"({"gpt-4o": {"input_cost_per_token": 2.5e-6, "output_cost_per_token": 1e-5}})",
         [](QNetworkAccessManager& network) -> std::optional<std::string> {
             auto syncing = PricingConfig::syncRemote(network);
             return QCoro::waitFor(syncing) ? std::nullopt : std::optional<std::string>("no catalogue");
         }},
        {"OpenAI usage", "FERNHOLLOW_OPENAI_BASE_URL", OpenAIUsageClient::endpoint,
         R"({"data":[{"start_time":1730419200,"results":[{"model":"gpt-4o","input_tokens":5}]}]})",
         [](QNetworkAccessManager& network) -> std::optional<std::string> {
             auto fetching = OpenAIUsageClient::fetchRecent(network, 30, adminKey);
             const auto result = QCoro::waitFor(fetching);
             if (const auto* error = std::get_if<OpenAIUsageClient::ClientError>(&result)) {
                 return error->description();
             }
             return std::nullopt;
         }},
    };
    return all;
}

// https to any host, plain http only to the three loopback names, where tests run their servers.
TEST(HttpEndpoints, PlainHttpGoesOnlyToALoopbackHost) {
    const std::vector<std::pair<QString, bool>> hosts = {
        {"127.0.0.1", true},
        {"localhost", true},
        {"[::1]", true},
        {"127.0.0.2", false},
        {"example.com", false},
        {"127.0.0.1.example.com", false},
        // User information before the host: the host is example.com.
        {"127.0.0.1@example.com", false},
    };
    for (const auto& [host, loopback] : hosts) {
        for (const QString scheme : {"https", "http", "ftp"}) {
            const QString base = scheme + QLatin1String("://") + host;
            const bool allowed =
                scheme == QLatin1String("https") || (scheme == QLatin1String("http") && loopback);
            EXPECT_EQ(HttpEndpoints::isAllowed(QUrl(base + QLatin1String(":8123/x"))), allowed)
                << base.toStdString();
            // Each client builds its address from such an override, or refuses it and sends nothing.
            for (const Client& client : clients()) {
                qputenv(client.baseUrlVariable, base.toUtf8());
                const QUrl address = client.address();
                EXPECT_EQ(address.isEmpty(), !allowed) << client.name << ' ' << base.toStdString();
                EXPECT_TRUE(address.isEmpty() || HttpEndpoints::isAllowed(address)) << client.name;
                qunsetenv(client.baseUrlVariable);
            }
        }
    }
    EXPECT_FALSE(HttpEndpoints::isAllowed(QUrl()));
}

// Both clients, with a data folder of their own for the catalogue's cache.
class ClientsAgainst : public ::testing::Test {
protected:
    void TearDown() override {
        for (const Client& client : clients()) {
            qunsetenv(client.baseUrlVariable);
        }
        qunsetenv("FERNHOLLOW_HTTP_TIMEOUT_MS");
        ModelPricing::setRemoteRates({});
    }

    std::optional<std::string> fetchFrom(const Client& client, const QString& baseUrl) {
        qputenv(client.baseUrlVariable, baseUrl.toUtf8());
        return client.fetch(network_);
    }

    test::TempTree home_;
    const test::WithEnv dataHome_{"XDG_DATA_HOME", (home_ / "data").string()};
    QNetworkAccessManager network_;
};

// Only a whole, direct answer of 200 is the answer: no redirect is followed, and a silent server
// or more than an answer ever holds is given up. The cut body is a whole answer followed by
// padding never sent, so only the transfer error tells. No failure's words carry the key.
TEST_F(ClientsAgainst, AnythingButAWholeDirectAnswerFails) {
    qputenv("FERNHOLLOW_HTTP_TIMEOUT_MS", "300");
    for (const Client& client : clients()) {
        const QByteArray good = client.goodAnswer;
        const LocalHttpServer elsewhere({.body = good});
        const QByteArray path = client.address().path().toUtf8();
        const QByteArray huge = good + QByteArray(50 * 1024 * 1024, ' ');
        const std::vector<std::pair<const char*, LocalHttpServer::Response>> cases = {
            {"404", {.status = 404, .reason = "Not Found", .body = good}},
            {"302 to another server",
             {.status = 302,
              .reason = "Found",
              .headers = {{"Location", elsewhere.baseUrl().toUtf8() + path}},
              .body = good}},
            {"cut short", {.body = good + QByteArray(4096, ' '), .closeAfterBodyBytes = good.size()}},
            {"never answers", {.neverAnswer = true}},
            {"50 MB unannounced", {.body = huge, .announceLength = false}},
        };
        for (const auto& [name, response] : cases) {
            SCOPED_TRACE(std::string(client.name) + ", " + name);
            const LocalHttpServer server(response);
            QElapsedTimer elapsed;
            elapsed.start();
            const auto failure = fetchFrom(client, server.baseUrl());
            ASSERT_TRUE(failure.has_value());
            EXPECT_FALSE(failure->empty());
            EXPECT_EQ(failure->find(adminKey), std::string::npos) << *failure;
            EXPECT_LT(elapsed.elapsed(), 20'000);
            EXPECT_EQ(server.requests().size(), 1u);
        }
        EXPECT_TRUE(elsewhere.requests().empty());
        const LocalHttpServer unannounced({.body = good, .announceLength = false});
        EXPECT_EQ(fetchFrom(client, unannounced.baseUrl()), std::nullopt) << client.name;
    }
}

} // namespace
