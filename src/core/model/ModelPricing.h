#pragma once

#include "core/model/BuiltInRates.h"
#include "core/model/PriceClass.h"
#include "core/model/PricingMode.h"
#include "core/model/Rate.h"
#include "core/model/UsageRecord.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fernhollow::ModelPricing {

// Prices every record that no table prices, and is named in the interface ("billed as Sonnet").
inline constexpr std::string_view fallbackModel = "claude-sonnet-4-6";
const Rate& fallbackRate();

// The two replaceable tables are only ever swapped whole: a reader holding one snapshot
// never sees a mixture of an old and a new table.
std::shared_ptr<const RateTable> userOverrides();
void setUserOverrides(RateTable rates);
std::shared_ptr<const RateTable> remoteRates();
void setRemoteRates(RateTable rates);

// The id under which the tables keep a model's price, whatever the log's spelling.
std::string canonicalize(std::string_view model);

// The price class of a record made from one log line: the tiers the line asked for, and the
// context tier that its own prompt reaches under the model's built-in rule.
PriceClass priceClassOf(const UsageRecord& record, PriceClass requested);

// Prices many records against one snapshot of the tables. Not thread-safe: one per thread.
class Pricer {
public:
    Pricer();
    // Shares the snapshot; remembers nothing of the other's lookups.
    Pricer(const Pricer& other);
    Pricer& operator=(const Pricer&) = delete;

    // The standard price: the user's override (under the spelling seen, then the canonical
    // id), the built-in row, then the catalogue; zero on the user's machine; nullptr when
    // unpriced.
    const Rate* effectiveRate(std::string_view model) const;
    // Linear in the record's counts once its model and price class are fixed.
    double cost(const UsageRecord& record) const;
    // The name the figures give the model: the id its price is kept under, or its canonical id.
    const InternedString& displayName(const InternedString& model) const;

private:
    struct Pricing {
        PriceSheet sheet;
        bool priced = false;
        InternedString name;
    };
    const Pricing& lookUp(std::string_view model) const;
    const Pricing& recordPricing(const InternedString& model) const;
    Pricing price(std::string_view model) const;

    std::shared_ptr<const RateTable> overrides_;
    std::shared_ptr<const RateTable> remote_;
    mutable std::unordered_map<std::string, Pricing, TransparentStringHash, std::equal_to<>> known_;
    // Records arrive in long runs of one model: the last answer, by the model's shared
    // identity, skips even the hash of its name.
    mutable const void* lastModel_ = nullptr;
    mutable const Pricing* lastPricing_ = nullptr;
};

std::optional<Rate> effectiveRate(std::string_view model);
double cost(const UsageRecord& record, PricingMode mode);

} // namespace fernhollow::ModelPricing
