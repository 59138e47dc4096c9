#include "platform/net/PricingConfig.h"

#include "core/model/ModelPricing.h"
#include "core/model/PricingFiles.h"
#include "platform/net/HttpEndpoints.h"
#include "platform/net/HttpGet.h"
#include "platform/system/Folders.h"

#include <QNetworkRequest>
#include <QSaveFile>

#include <fstream>

#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fernhollow::PricingConfig {
namespace {

constexpr auto catalogueHost = "https://raw.githubusercontent.com";
constexpr auto cataloguePath = "/BerriAI/litellm/main/model_prices_and_context_window.json";
constexpr int syncTimeoutMs = 20'000;
// Many times the catalogue's size; a server sending more is not serving it.
constexpr qint64 maxCatalogueBytes = 32 * 1024 * 1024;

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (file.bad()) {
        return std::nullopt;
    }
    return std::move(bytes).str();
}

} // namespace

std::filesystem::path dir() {
    return Folders::data();
}

std::filesystem::path overridesURL() {
    return dir() / "pricing_overrides.json";
}

std::filesystem::path exampleURL() {
    return dir() / "pricing_overrides.example.json";
}

std::filesystem::path remoteCacheURL() {
    return dir() / "pricing_remote_cache.json";
}

QUrl litellmURL() {
    QUrl url = HttpEndpoints::baseUrl("FERNHOLLOW_LITELLM_BASE_URL", catalogueHost);
    if (!url.isEmpty()) {
        url.setPath(QLatin1String(cataloguePath));
    }
    return url;
}

std::string loadUserOverrides() {
    // Created only when absent (O_EXCL): an example the user edited is never rewritten.
    const int example = ::open(exampleURL().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (example >= 0) {
        ::fchmod(example, 0600); // whatever the umask
        const bool written =
            ::write(example, PricingFiles::exampleText.data(), PricingFiles::exampleText.size()) ==
            static_cast<ssize_t>(PricingFiles::exampleText.size());
        ::close(example);
        if (!written) {
            ::unlink(exampleURL().c_str());
        }
    }
    const auto bytes = readWholeFile(overridesURL());
    if (!bytes || bytes->empty()) {
        ModelPricing::setUserOverrides({});
        return "No overrides file";
    }
    auto decoded = PricingFiles::decodeRateTable(*bytes);
    if (auto* error = std::get_if<PricingFiles::DecodeError>(&decoded)) {
        return "\xE2\x9A\xA0\xEF\xB8\x8F overrides parse error: " + error->description;
    }
    auto& rates = std::get<ModelPricing::RateTable>(decoded);
    const std::size_t count = rates.size();
    ModelPricing::setUserOverrides(std::move(rates));
    if (count == 0) {
        return "Overrides file empty";
    }
    return std::to_string(count) + " override(s) loaded";
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
    QSaveFile file(QString::fromStdString(remoteCacheURL().string()));
    if (file.open(QIODevice::WriteOnly)) {
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        file.write(cache.data(), static_cast<qint64>(cache.size()));
        file.commit();
    }
    co_return count;
}

void loadRemoteCache() {
    const auto bytes = readWholeFile(remoteCacheURL());
    if (!bytes) {
        return;
    }
    auto decoded = PricingFiles::decodeRateTable(*bytes);
    if (auto* rates = std::get_if<ModelPricing::RateTable>(&decoded)) {
        ModelPricing::setRemoteRates(std::move(*rates));
    }
}

} // namespace fernhollow::PricingConfig
