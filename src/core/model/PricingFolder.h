#pragma once

#include <filesystem>
#include <string>

// The price files kept in the data folder beside the built-in table: the user's overrides, the
// example written for them, and the cache of the last catalogue sync. Loading them fills
// ModelPricing's two replaceable tables.
namespace fernhollow::PricingFolder {

std::filesystem::path overridesURL();
std::filesystem::path exampleURL();
std::filesystem::path remoteCacheURL();

// Loads pricing_overrides.json into the override table (writing the example file first if
// it is missing) and returns the one-line status for the settings window.
std::string loadUserOverrides();

// Fills the remote table from the cache file of the last successful sync, if usable.
void loadRemoteCache();

} // namespace fernhollow::PricingFolder
