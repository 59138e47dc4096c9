#pragma once

#include "core/model/PricingMode.h"
#include "core/model/UsageRecord.h"

#include <simdjson.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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

// "input" and "output" are required; absent (or null) cache prices derive from the input price.
std::optional<Rate> rateFromJson(simdjson::dom::element element);
void appendJson(std::string& out, const Rate& rate);

struct TransparentStringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

// Keyed by canonical model id, compared exactly. Looked up by string_view without allocating.
using RateTable = std::unordered_map<std::string, Rate, TransparentStringHash, std::equal_to<>>;

inline constexpr std::string_view fallbackModel = "claude-sonnet-4-6";

// The curated built-in rates.
const RateTable& table();
const Rate& fallbackRate();

// The two replaceable tables are only ever swapped whole: a reader holding one snapshot
// never sees a mixture of an old and a new table.
std::shared_ptr<const RateTable> userOverrides();
void setUserOverrides(RateTable rates);
std::shared_ptr<const RateTable> remoteRates();
void setRemoteRates(RateTable rates);

// Strips a trailing eight-digit date piece ("claude-haiku-4-5-20251001" -> "claude-haiku-4-5").
std::string canonicalize(std::string_view model);

// Same rule without allocating when the result is a slice of `model`; otherwise the joined
// result is built in `scratch` and the returned view points there.
std::string_view canonicalize(std::string_view model, std::string& scratch);

// Prices many records against one snapshot of the tables. Not thread-safe: one per thread.
class Pricer {
public:
    Pricer();

    // Overrides, then the built-in table, then the catalogue; nullptr when unpriced.
    const Rate* effectiveRate(std::string_view model) const;
    double cost(const UsageRecord& record) const;

private:
    const Rate* recordRate(const InternedString& model) const;

    std::shared_ptr<const RateTable> overrides_;
    std::shared_ptr<const RateTable> remote_;
    mutable std::string scratch_;
    // Records arrive in long runs of one model; remembering the last answer, by the model's
    // shared identity, skips the lookup without even reading the name.
    mutable InternedString lastModel_;
    mutable const Rate* lastRate_ = nullptr;
    mutable bool hasLast_ = false;
};

std::optional<Rate> effectiveRate(std::string_view model);
double cost(const UsageRecord& record, PricingMode mode);

} // namespace fernhollow::ModelPricing
