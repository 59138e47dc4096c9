#include "platform/net/PricingConfig.h"

#include "core/model/ModelPricing.h"
#include "core/model/PricingFiles.h"
#include "core/model/PricingFolder.h"
#include "platform/net/HttpEndpoints.h"
#include "platform/net/HttpGet.h"

#include <QNetworkRequest>
#include <QSaveFile>

namespace fernhollow::PricingConfig {
namespace {

constexpr auto catalogueHost = "https://raw.githubusercontent.com";
constexpr auto cataloguePath = "/BerriAI/litellm/main/model_prices_and_context_window.json";
constexpr int syncTimeoutMs = 20'000;
// Many times the catalogue's size; a server sending more is not serving it.
constexpr qint64 maxCatalogueBytes = 32 * 1024 * 1024;

} // namespace

QUrl litellmURL() {
    QUrl url = HttpEndpoints::baseUrl("FERNHOLLOW_LITELLM_BASE_URL", catalogueHost);
    if (!url.isEmpty()) {
        url.setPath(QLatin1String(cataloguePath));
    }
    return url;
}

QCoro::Task<std::optional<int>> syncRemote(QNetworkAccessManager& network) {
    const QUrl url = litellmURL();
    if (url.isEmpty()) {
        co_return std::nullopt;
    }
    // A redirect is not the catalogue: only a direct, whole 200 counts.
    auto fetching = HttpGet::fetch(network, QNetworkRequest(url), syncTimeoutMs, maxCatalogueBytes);
    const HttpGet::Answer answer = co_await std::move(fetching);
    if (!answer.complete || answer.status != 200) {
        co_return std::nullopt;
    }
    const QByteArray& body = answer.body;
    ModelPricing::RateTable rates =
        PricingFiles::parseLiteLLM(std::string_view(body.constData(), body.size()));
    if (rates.empty()) {
        co_return std::nullopt;
    }
    const int count = static_cast<int>(rates.size());
    const std::string cache = PricingFiles::encodeRateTable(rates);
    ModelPricing::setRemoteRates(std::move(rates));
    QSaveFile file(QString::fromStdString(PricingFolder::remoteCacheURL().string()));
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(cache.data(), static_cast<qint64>(cache.size()));
        file.commit();
    }
    co_return count;
}

} // namespace fernhollow::PricingConfig
