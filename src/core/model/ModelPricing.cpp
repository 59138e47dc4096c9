#include "core/model/ModelPricing.h"

#include "core/model/JsonWriter.h"

#include <algorithm>
#include <atomic>

namespace fernhollow::ModelPricing {
namespace {

RateTable buildTable() {
    const Rate opus45{5.0, 25.0, 6.25, 10.0, 0.5};
    const Rate opus4{15.0, 75.0, 18.75, 30.0, 1.5};
    const Rate tier5{10.0, 50.0, 12.5, 20.0, 1.0};
    const Rate sonnet{3.0, 15.0, 3.75, 6.0, 0.3};
    const Rate haiku{1.0, 5.0, 1.25, 2.0, 0.1};
    const Rate gpt4o{2.5, 10.0, 2.5, 2.5, 1.25};
    return RateTable{
        {"claude-opus-4-8", opus45},
        {"claude-opus-4-7", opus45},
        {"claude-opus-4-6", opus45},
        {"claude-opus-4-5", opus45},
        {"claude-opus-4-1", opus4},
        {"claude-opus-4", opus4},
        {"claude-fable-5", tier5},
        {"claude-mythos-5", tier5},
        {"claude-sonnet-4-6", sonnet},
        {"claude-sonnet-4-5", sonnet},
        {"claude-sonnet-4", sonnet},
        {"claude-haiku-4-5", haiku},
        {"claude-haiku-4-5-20251001", haiku},
        {"gpt-4o", gpt4o},
        {"gpt-4o-2024-11-20", gpt4o},
        {"gpt-4o-mini", {0.15, 0.6, 0.15, 0.15, 0.075}},
        {"gpt-4.1", {2.0, 8.0, 2.0, 2.0, 0.5}},
        {"gpt-4.1-mini", {0.4, 1.6, 0.4, 0.4, 0.1}},
        {"gpt-4.1-nano", {0.1, 0.4, 0.1, 0.1, 0.025}},
        {"o1", {15.0, 60.0, 15.0, 15.0, 7.5}},
        {"o1-mini", {3.0, 12.0, 3.0, 3.0, 1.5}},
        {"o3", {10.0, 40.0, 10.0, 10.0, 2.5}},
        {"o3-mini", {1.1, 4.4, 1.1, 1.1, 0.55}},
        {"o4-mini", {1.1, 4.4, 1.1, 1.1, 0.275}},
        {"deepseek-chat", {0.27, 1.1, 0.27, 0.27, 0.07}},
        {"deepseek-reasoner", {0.55, 2.19, 0.55, 0.55, 0.14}},
    };
}

std::atomic<std::shared_ptr<const RateTable>>& userOverridesSlot() {
    static std::atomic<std::shared_ptr<const RateTable>> slot{std::make_shared<const RateTable>()};
    return slot;
}

std::atomic<std::shared_ptr<const RateTable>>& remoteRatesSlot() {
    static std::atomic<std::shared_ptr<const RateTable>> slot{std::make_shared<const RateTable>()};
    return slot;
}

const Rate* find(const RateTable& rates, std::string_view key) {
    if (rates.empty()) {
        return nullptr;
    }
    const auto it = rates.find(key);
    return it == rates.end() ? nullptr : &it->second;
}

// A date suffix is eight characters that read as a decimal integer: eight digits, or a
// plus sign and seven digits.
bool isDatePiece(std::string_view piece) {
    if (piece.size() != 8) {
        return false;
    }
    const std::size_t firstDigit = piece.front() == '+' ? 1 : 0;
    return std::all_of(piece.begin() + firstDigit, piece.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<double> optionalPrice(simdjson::dom::object object, std::string_view key, bool& failed) {
    simdjson::dom::element element;
    if (object[key].get(element) != simdjson::SUCCESS || element.is_null()) {
        return std::nullopt;
    }
    double value = 0.0;
    if (element.get_double().get(value) != simdjson::SUCCESS) {
        failed = true;
        return std::nullopt;
    }
    return value;
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

std::optional<Rate> rateFromJson(simdjson::dom::element element) {
    simdjson::dom::object object;
    if (element.get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    Rate rate;
    if (object["input"].get_double().get(rate.input) != simdjson::SUCCESS ||
        object["output"].get_double().get(rate.output) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    bool failed = false;
    rate.cacheWrite = optionalPrice(object, "cacheWrite", failed).value_or(rate.input * 1.25);
    rate.cacheWrite1h = optionalPrice(object, "cacheWrite1h", failed).value_or(rate.input + rate.input);
    rate.cacheRead = optionalPrice(object, "cacheRead", failed).value_or(rate.input * 0.1);
    if (failed) {
        return std::nullopt;
    }
    return rate;
}

void appendJson(std::string& out, const Rate& rate) {
    const std::pair<std::string_view, double> prices[] = {
        {"input", rate.input},           {"output", rate.output},
        {"cacheWrite", rate.cacheWrite}, {"cacheWrite1h", rate.cacheWrite1h},
        {"cacheRead", rate.cacheRead},
    };
    out.push_back('{');
    for (const auto& [key, value] : prices) {
        if (out.back() != '{') {
            out.push_back(',');
        }
        json::appendString(out, key);
        out.push_back(':');
        json::appendNumber(out, value);
    }
    out.push_back('}');
}

const RateTable& table() {
    static const RateTable builtIn = buildTable();
    return builtIn;
}

const Rate& fallbackRate() {
    static const Rate& rate = table().find(fallbackModel)->second;
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

std::string_view canonicalize(std::string_view model, std::string& scratch) {
    const std::size_t lastEnd = model.find_last_not_of('-');
    if (lastEnd == std::string_view::npos) {
        return model;
    }
    const std::size_t hyphenBeforeLast = model.rfind('-', lastEnd);
    if (hyphenBeforeLast == std::string_view::npos) {
        return model; // one piece
    }
    const std::size_t prefixLast = model.find_last_not_of('-', hyphenBeforeLast);
    if (prefixLast == std::string_view::npos) {
        return model; // one piece behind leading hyphens
    }
    if (!isDatePiece(model.substr(hyphenBeforeLast + 1, lastEnd - hyphenBeforeLast))) {
        return model;
    }
    const std::string_view prefix = model.substr(0, prefixLast + 1);
    if (prefix.front() != '-' && prefix.find("--") == std::string_view::npos) {
        return prefix;
    }
    // Empty pieces vanish: rejoin what is left with single hyphens.
    scratch.clear();
    for (std::size_t i = 0; i < prefix.size();) {
        const std::size_t end = std::min(prefix.find('-', i), prefix.size());
        if (end > i) {
            if (!scratch.empty()) {
                scratch.push_back('-');
            }
            scratch.append(prefix.substr(i, end - i));
        }
        i = end + 1;
    }
    return scratch;
}

std::string canonicalize(std::string_view model) {
    std::string scratch;
    return std::string(canonicalize(model, scratch));
}

Pricer::Pricer() : overrides_(userOverrides()), remote_(remoteRates()) {}

const Rate* Pricer::effectiveRate(std::string_view model) const {
    const std::string_view key = canonicalize(model, scratch_);
    const Rate* rate = find(*overrides_, key);
    if (rate == nullptr) {
        rate = find(table(), key);
    }
    if (rate == nullptr) {
        rate = find(*remote_, key);
    }
    return rate;
}

const Rate* Pricer::recordRate(const InternedString& model) const {
    if (!hasLast_ || model != lastModel_) {
        lastRate_ = effectiveRate(std::string_view(model));
        lastModel_ = model;
        hasLast_ = true;
    }
    return lastRate_;
}

double Pricer::cost(const UsageRecord& record) const {
    const Rate* rate = recordRate(record.model);
    return costAt(record, rate != nullptr ? *rate : fallbackRate());
}

std::optional<Rate> effectiveRate(std::string_view model) {
    const Rate* rate = Pricer{}.effectiveRate(model);
    return rate != nullptr ? std::optional<Rate>(*rate) : std::nullopt;
}

double cost(const UsageRecord& record, PricingMode) {
    return Pricer{}.cost(record);
}

} // namespace fernhollow::ModelPricing
