#pragma once

#include <QCoroTask>
#include <QUrl>

#include <filesystem>
#include <optional>
#include <string>

class QNetworkAccessManager;

// The price sources beside the built-in table: the user's override file and the LiteLLM
// catalogue with its local cache. Results land in ModelPricing's two replaceable tables.
namespace fernhollow::PricingConfig {

// The data folder, created on the way.
std::filesystem::path dir();
std::filesystem::path overridesURL();
std::filesystem::path exampleURL();
std::filesystem::path remoteCacheURL();

// The catalogue's address. FERNHOLLOW_LITELLM_BASE_URL replaces the scheme and host for tests
// (see HttpEndpoints::baseUrl); an override it refuses yields an empty address.
QUrl litellmURL();

// Loads pricing_overrides.json into the override table (writing the example file first if
// it is missing) and returns the one-line status for the settings window.
std::string loadUserOverrides();

// Fetches the catalogue; on success replaces the remote table and its cache file and gives
// the number of models, otherwise changes nothing and gives nothing.
QCoro::Task<std::optional<int>> syncRemote(QNetworkAccessManager& network);

// Fills the remote table from the cache file of the last successful sync, if usable.
void loadRemoteCache();

} // namespace fernhollow::PricingConfig
