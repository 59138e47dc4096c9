#pragma once

#include <simdjson.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/model/PriceClass.h"

namespace fernhollow::ModelPricing {

// US dollars per 1,000,000 tokens.
struct Rate {
    double input = 0.0;
    double output = 0.0;
    double cacheWrite = 0.0;   // 5-minute cache lifetime
    double cacheWrite1h = 0.0; // 1-hour cache lifetime
    double cacheRead = 0.0;

    friend bool operator==(const Rate&, const Rate&) = default;
};

Rate scaled(const Rate& rate, double factor);

// A model's rate in each price class.
using PriceSheet = std::array<Rate, priceClass::count>;

// The same rate in every class: the rates of the override file and the catalogue have no tiers.
PriceSheet uniformSheet(const Rate& rate);

// "input" and "output" are required; absent (or null) cache prices derive from the input price.
std::optional<Rate> rateFromJson(simdjson::dom::element element);
void appendJson(std::string& out, const Rate& rate);

struct TransparentStringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// Keyed by model id, compared exactly. Looked up by string_view without allocating.
using RateTable = std::unordered_map<std::string, Rate, TransparentStringHash, std::equal_to<>>;

} // namespace fernhollow::ModelPricing
