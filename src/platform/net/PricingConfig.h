#pragma once

#include <QCoroTask>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;

// The LiteLLM catalogue over the network; its cache file and the user's overrides are read by
// PricingFolder in the core.
namespace fernhollow::PricingConfig {

// The catalogue's address. FERNHOLLOW_LITELLM_BASE_URL replaces the scheme and host for tests
// (see HttpEndpoints::baseUrl); an override it refuses yields an empty address.
QUrl litellmURL();

// Fetches the catalogue; on success replaces the remote table and its cache file and gives
// the number of models, otherwise changes nothing and gives nothing.
QCoro::Task<std::optional<int>> syncRemote(QNetworkAccessManager& network);

} // namespace fernhollow::PricingConfig
