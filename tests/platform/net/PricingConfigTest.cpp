#include "platform/net/PricingConfig.h"

#include "core/model/ModelPricing.h"
#include "core/model/PricingFiles.h"
#include "core/model/PricingFolder.h"
#include "support/LocalHttpServer.h"
#include "support/RatePrinter.h"
#include "support/TempTree.h"
#include "support/TestData.h"
#include "support/WithEnv.h"

#include <QCoroTask>
#include <QNetworkAccessManager>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace fernhollow;
using ModelPricing::Rate;
using ModelPricing::RateTable;
using test::LocalHttpServer;
using test::readFile;
using test::TempTree;

constexpr auto baseUrlVariable = "FERNHOLLOW_LITELLM_BASE_URL";
constexpr std::string_view cataloguePath = "/BerriAI/litellm/main/model_prices_and_context_window.json";
constexpr std::string_view warningPrefix = "\xE2\x9A\xA0\xEF\xB8\x8F overrides parse error: ";
constexpr Rate markerRate{0.123, 0.456, 0.789, 1.234, 0.0567};

void writeFile(const std::filesystem::path& path, std::string_view content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Every test gets fresh home folders, which a later test must not recreate once they are
// gone, and leaves the process-wide price tables and the environment overrides as it found them.
class PricingConfigTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        ModelPricing::setUserOverrides({});
        ModelPricing::setRemoteRates({});
        qunsetenv(baseUrlVariable);
    }

    TempTree home_;

private:
    const test::WithEnv homeVariable_{"HOME", home_.root().string()};
    const test::WithEnv dataVariable_{"XDG_DATA_HOME", (home_ / "data").string()};
    const test::WithEnv configVariable_{"XDG_CONFIG_HOME", (home_ / "config").string()};
};

// A file the user is halfway through editing keeps the prices in force; the example file is
// written when missing, never over one the user may have edited.
TEST_F(PricingConfigTest, LoadUserOverridesReportsWhatItLoaded) {
    const std::string warning(warningPrefix);
    const RateTable stale{{"stale-model", markerRate}};
    const std::vector<std::tuple<std::optional<std::string>, std::string, RateTable>> cases = {
        {std::nullopt, "No overrides file", {}},
        {"", "No overrides file", {}},
        {"{}", "Overrides file empty", {}},
        {R"({"my-model": {"input": 2.0, "output": 8.0, "cacheRead": 0.2}})",
         "1 override(s) loaded",
         {{"my-model", Rate{2.0, 8.0, 2.5, 4.0, 0.2}}}},
        {std::string(PricingFiles::exampleText), warning, stale},
        {"{\"my-model\": ", warning, stale},
    };
    for (const auto& [file, status, loaded] : cases) {
        ModelPricing::setUserOverrides(stale);
        std::filesystem::remove(PricingFolder::overridesURL());
        std::filesystem::remove(PricingFolder::exampleURL());
        if (file) {
            writeFile(PricingFolder::overridesURL(), *file);
        }
        const std::string told = PricingFolder::loadUserOverrides();
        EXPECT_EQ(told.substr(0, status.size()), status);
        EXPECT_EQ(told.size() > status.size(), status == warning) << told;
        EXPECT_EQ(*ModelPricing::userOverrides(), loaded) << status;
        EXPECT_EQ(readFile(PricingFolder::exampleURL()), std::string(PricingFiles::exampleText)) << status;
    }
    writeFile(PricingFolder::exampleURL(), "the user's own notes");
    PricingFolder::loadUserOverrides();
    EXPECT_EQ(readFile(PricingFolder::exampleURL()), "the user's own notes");
}

class SyncRemote : public PricingConfigTest {
protected:
    const LocalHttpServer& serve(LocalHttpServer::Response response) {
        server_ = std::make_unique<LocalHttpServer>(std::move(response));
        EXPECT_TRUE(server_->isListening());
        qputenv(baseUrlVariable, server_->baseUrl().toUtf8());
        return *server_;
    }

    std::optional<int> sync() { return QCoro::waitFor(PricingConfig::syncRemote(network_)); }

    QNetworkAccessManager network_;
    std::unique_ptr<LocalHttpServer> server_;
};

// A failed sync (which answers fail is the endpoints' test, here one the catalogue's reading
// refuses) leaves the table and cache of the last that worked, as a damaged cache leaves the table.
TEST_F(SyncRemote, ReplacesTheTableAndItsCacheWholeUnlessItFails) {
    ModelPricing::setRemoteRates({{"old-model", markerRate}});
    // How entries become rates is the catalogue parser's test.
    const std::string catalogue = test::dataText("litellm/usable-and-unusable-entries.json");
    const LocalHttpServer& server = serve({.body = QByteArray::fromStdString(catalogue)});
    EXPECT_EQ(sync(), 8);
    const auto synced = ModelPricing::remoteRates();
    EXPECT_EQ(*synced, PricingFiles::parseLiteLLM(catalogue));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().front().target.toStdString(), cataloguePath);
    const auto cache = readFile(PricingFolder::remoteCacheURL());

    serve({.body = R"({"free": {"input_cost_per_token": 0, "output_cost_per_token": 0, "mode": "chat"}})"});
    EXPECT_EQ(sync(), std::nullopt);
    EXPECT_EQ(ModelPricing::remoteRates(), synced);
    EXPECT_EQ(readFile(PricingFolder::remoteCacheURL()), cache);

    ModelPricing::setRemoteRates({});
    PricingFolder::loadRemoteCache();
    EXPECT_EQ(*ModelPricing::remoteRates(), *synced);
    writeFile(PricingFolder::remoteCacheURL(), "{\"claude-sonnet-4\": {\"input\": 3, \"out");
    PricingFolder::loadRemoteCache();
    EXPECT_EQ(*ModelPricing::remoteRates(), *synced);
    writeFile(PricingFolder::remoteCacheURL(), "{}");
    PricingFolder::loadRemoteCache();
    EXPECT_TRUE(ModelPricing::remoteRates()->empty());
}

} // namespace
