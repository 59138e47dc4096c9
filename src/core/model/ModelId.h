#pragma once

#include <array>
#include <string>
#include <string_view>

// What a log's spelling of a model says about the model and the road it took: logs name one
// model many ways ("anthropic/claude-sonnet-4.5", "us.anthropic.claude-sonnet-4-5-20250929-v1:0",
// "claude-sonnet-4-5@20250929"), and prices are kept once, under the vendor's own id.
namespace fernhollow::ModelId {

enum class Route {
    vendor,          // the vendor's API, or any route that charges the vendor's list price
    bedrockRegional, // a Bedrock geography or single-region endpoint
    bedrockGlobal,   // Bedrock's global cross-region profile
};

struct Parsed {
    std::string canonical; // lower case, without provider path, route, version, date or mode suffix
    Route route = Route::vendor;
    bool free = false; // served on the user's machine, or a route that charges nothing
};

Parsed parse(std::string_view spelling);

// Shorter ids to try when a canonical id as it stands has no price: without a reasoning-effort
// word that proxies append ("gpt-5-codex-high", where "mistral-medium" is a model), and without
// a four-digit snapshot number ("grok-4-0709", "mistral-medium-2508", where "model-1234" may be
// a model of its own). An empty view where the id ends in neither.
std::array<std::string_view, 2> shorterIds(std::string_view canonical);

} // namespace fernhollow::ModelId
