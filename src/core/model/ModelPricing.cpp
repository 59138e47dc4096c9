#include "core/model/ModelPricing.h"

#include "core/common/SaturatingAdd.h"
#include "core/model/ModelId.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace fernhollow::ModelPricing {
namespace {

std::atomic<std::shared_ptr<const RateTable>>& userOverridesSlot() {
    static std::atomic<std::shared_ptr<const RateTable>> slot{std::make_shared<const RateTable>()};
    return slot;
}

std::atomic<std::shared_ptr<const RateTable>>& remoteRatesSlot() {
    static std::atomic<std::shared_ptr<const RateTable>> slot{std::make_shared<const RateTable>()};
    return slot;
}

template <typename Table> const typename Table::mapped_type* find(const Table& table, std::string_view key) {
    if (table.empty() || key.empty()) {
        return nullptr;
    }
    const auto it = table.find(key);
    return it == table.end() ? nullptr : &it->second;
}

// The ids to look a model up under: its canonical id, then the shorter ids it may stand for.
std::array<std::string_view, 3> candidates(std::string_view canonical) {
    const auto [withoutEffort, withoutSnapshot] = ModelId::shorterIds(canonical);
    return {canonical, withoutEffort, withoutSnapshot};
}

const ModelRates* builtInRow(std::string_view canonical, std::string_view* key = nullptr) {
    for (const std::string_view candidate : candidates(canonical)) {
        if (const ModelRates* row = find(builtInTable(), candidate)) {
            if (key != nullptr) {
                *key = candidate;
            }
            return row;
        }
    }
    return nullptr;
}

double costAt(const UsageRecord& record, const Rate& rate) {
    const std::int64_t oneHour = std::min(record.cacheCreationInputTokens, record.cacheCreation1hTokens);
    // Computed in double: the difference of two arbitrary 64-bit counts may not fit in 64 bits.
    const double fiveMinute =
        static_cast<double>(record.cacheCreationInputTokens) - static_cast<double>(oneHour);
    double sum = static_cast<double>(record.inputTokens) * rate.input +
                 static_cast<double>(record.outputTokens) * rate.output;
    sum += fiveMinute * rate.cacheWrite;
    sum += static_cast<double>(oneHour) * rate.cacheWrite1h;
    sum += static_cast<double>(record.cacheReadInputTokens) * rate.cacheRead;
    return sum / 1'000'000.0;
}

} // namespace

const Rate& fallbackRate() {
    static const Rate& rate = builtInTable().at(std::string(fallbackModel)).standard;
    return rate;
}

std::shared_ptr<const RateTable> userOverrides() {
    return userOverridesSlot().load();
}

void setUserOverrides(RateTable rates) {
    userOverridesSlot().store(std::make_shared<const RateTable>(std::move(rates)));
}

std::shared_ptr<const RateTable> remoteRates() {
    return remoteRatesSlot().load();
}

void setRemoteRates(RateTable rates) {
    remoteRatesSlot().store(std::make_shared<const RateTable>(std::move(rates)));
}

std::string canonicalize(std::string_view model) {
    return ModelId::parse(model).canonical;
}

PriceClass priceClassOf(const UsageRecord& record, PriceClass requested) {
    // Every line of a scan asks, and a scan thread meets only a few spellings; a hostile log's
    // endless new ones empty the memo now and then instead of filling the memory.
    thread_local std::unordered_map<const void*, const ModelRates*> rows;
    if (rows.size() > 4096) {
        rows.clear();
    }
    auto [known, added] = rows.try_emplace(record.model.identity(), nullptr);
    if (added) {
        known->second = builtInRow(canonicalize(record.model));
    }
    PriceClass result = requested & static_cast<PriceClass>(~priceClass::contextTierMask);
    if (const ModelRates* row = known->second) {
        const std::int64_t prompt = addSaturating(
            addSaturating(record.inputTokens, record.cacheCreationInputTokens), record.cacheReadInputTokens);
        result |= row->contextTier(prompt);
    }
    return result;
}

Pricer::Pricer() : overrides_(userOverrides()), remote_(remoteRates()) {}

Pricer::Pricer(const Pricer& other) : overrides_(other.overrides_), remote_(other.remote_) {}

Pricer::Pricing Pricer::price(std::string_view model) const {
    const ModelId::Parsed id = ModelId::parse(model);
    Pricing pricing{uniformSheet(Rate{}), true, InternedString(id.canonical.empty() ? model : id.canonical)};
    if (id.free) {
        return pricing;
    }
    const Rate* rate = find(*overrides_, model);
    for (const std::string_view candidate : candidates(id.canonical)) {
        rate = rate != nullptr ? rate : find(*overrides_, candidate);
    }
    std::string_view key;
    if (rate == nullptr) {
        if (const ModelRates* row = builtInRow(id.canonical, &key)) {
            const double factor = id.route == ModelId::Route::bedrockRegional ? row->regionalFactor : 1.0;
            std::transform(row->sheet.begin(), row->sheet.end(), pricing.sheet.begin(),
                           [factor](const Rate& classRate) { return scaled(classRate, factor); });
            pricing.name = InternedString(key);
            return pricing;
        }
    }
    for (const std::string_view candidate : candidates(id.canonical)) {
        rate = rate != nullptr ? rate : find(*remote_, candidate);
    }
    if (rate != nullptr) {
        pricing.sheet = uniformSheet(*rate);
        return pricing;
    }
    // Whatever tier the record was made in: nothing is known of the model's tiers.
    pricing.sheet = uniformSheet(fallbackRate());
    pricing.priced = false;
    return pricing;
}

const Pricer::Pricing& Pricer::lookUp(std::string_view model) const {
    auto it = known_.find(model);
    if (it == known_.end()) {
        it = known_.emplace(std::string(model), price(model)).first;
    }
    return it->second;
}

const Pricer::Pricing& Pricer::recordPricing(const InternedString& model) const {
    if (lastPricing_ == nullptr || model.identity() != lastModel_) {
        lastPricing_ = &lookUp(model);
        lastModel_ = model.identity();
    }
    return *lastPricing_;
}

const Rate* Pricer::effectiveRate(std::string_view model) const {
    const Pricing& pricing = lookUp(model);
    return pricing.priced ? &pricing.sheet[0] : nullptr;
}

double Pricer::cost(const UsageRecord& record) const {
    return costAt(record, recordPricing(record.model).sheet[record.priceClass % priceClass::count]);
}

const InternedString& Pricer::displayName(const InternedString& model) const {
    return recordPricing(model).name;
}

std::optional<Rate> effectiveRate(std::string_view model) {
    // The rate lives in the pricer's sheets: the pricer must outlive the copy.
    const Pricer pricer;
    const Rate* rate = pricer.effectiveRate(model);
    return rate != nullptr ? std::optional<Rate>(*rate) : std::nullopt;
}

double cost(const UsageRecord& record, PricingMode) {
    return Pricer{}.cost(record);
}

} // namespace fernhollow::ModelPricing
