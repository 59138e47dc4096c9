#include "core/model/Rate.h"

#include "core/model/JsonWriter.h"

namespace fernhollow::ModelPricing {
namespace {

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

} // namespace

Rate scaled(const Rate& rate, double factor) {
    return {rate.input * factor, rate.output * factor, rate.cacheWrite * factor, rate.cacheWrite1h * factor,
            rate.cacheRead * factor};
}

PriceSheet uniformSheet(const Rate& rate) {
    PriceSheet sheet;
    sheet.fill(rate);
    return sheet;
}

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

} // namespace fernhollow::ModelPricing
