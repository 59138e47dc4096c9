#include "core/model/PricingFiles.h"

#include "core/model/JsonWriter.h"

#include <cmath>

namespace fernhollow::PricingFiles {
namespace {

std::optional<double> positivePrice(simdjson::dom::object entry, std::string_view key) {
    double value = 0.0;
    if (entry[key].get_double().get(value) != simdjson::SUCCESS || !(value > 0.0)) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> optionalPrice(simdjson::dom::object entry, std::string_view key) {
    double value = 0.0;
    if (entry[key].get_double().get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return value;
}

} // namespace

const std::string_view exampleText =
    "{\n"
    "  \"_comment\": \"Rename keys to real model ids. USD per 1M tokens. Only input+output required; "
    "cacheWrite "
    "(5m), cacheWrite1h, cacheRead default to Anthropic conventions (1.25x / 2x / 0.1x of input). This file "
    "is the "
    "EXAMPLE \xE2\x80\x94 copy entries into pricing_overrides.json to apply.\",\n"
    "  \"some-new-model\": { \"input\": 5.0, \"output\": 25.0, \"cacheWrite\": 6.25, \"cacheWrite1h\": 10.0, "
    "\"cacheRead\": 0.5 },\n"
    "  \"gemini-2.5-pro\": { \"input\": 1.25, \"output\": 10.0, \"cacheRead\": 0.31 }\n"
    "}";

std::variant<ModelPricing::RateTable, DecodeError> decodeRateTable(std::string_view bytes) {
    simdjson::dom::parser parser;
    simdjson::dom::element document;
    if (const auto error = parser.parse(bytes.data(), bytes.size()).get(document);
        error != simdjson::SUCCESS) {
        return DecodeError{std::string("the file is not valid JSON (") + simdjson::error_message(error) +
                           ")"};
    }
    simdjson::dom::object object;
    if (document.get_object().get(object) != simdjson::SUCCESS) {
        return DecodeError{"the file must hold one object from model id to prices"};
    }
    ModelPricing::RateTable rates;
    for (const auto field : object) {
        const std::string key(field.key);
        if (!field.value.is_object()) {
            return DecodeError{"the value of \"" + key + "\" is not an object of prices"};
        }
        const auto rate = ModelPricing::rateFromJson(field.value);
        if (!rate) {
            return DecodeError{
                "the prices of \"" + key +
                "\" need numbers for \"input\" and \"output\", and numbers or null for the rest"};
        }
        rates.insert_or_assign(key, *rate);
    }
    return rates;
}

std::string encodeRateTable(const ModelPricing::RateTable& rates) {
    std::string out = "{";
    for (const auto& [model, rate] : rates) {
        if (out.size() > 1) {
            out.push_back(',');
        }
        json::appendString(out, model, json::Slash::escaped);
        out.push_back(':');
        ModelPricing::appendJson(out, rate);
    }
    out.push_back('}');
    return out;
}

ModelPricing::RateTable parseLiteLLM(std::string_view bytes) {
    ModelPricing::RateTable rates;
    simdjson::dom::parser parser;
    simdjson::dom::object catalogue;
    if (parser.parse(bytes.data(), bytes.size()).get_object().get(catalogue) != simdjson::SUCCESS) {
        return rates;
    }
    for (const auto field : catalogue) {
        simdjson::dom::object entry;
        if (field.key == "sample_spec" || field.value.get_object().get(entry) != simdjson::SUCCESS) {
            continue;
        }
        const auto inputCost = positivePrice(entry, "input_cost_per_token");
        const auto outputCost = positivePrice(entry, "output_cost_per_token");
        // Keys carry routes ("gemini/", "bedrock/us-east-1/anthropic.") that logs spell the
        // same model by: each is stored under the id that a record's spellings map to.
        const std::string model = ModelPricing::canonicalize(field.key);
        if (!inputCost || !outputCost || model.empty()) {
            continue;
        }
        ModelPricing::Rate rate;
        rate.input = *inputCost * 1'000'000;
        rate.output = *outputCost * 1'000'000;
        const auto cacheWriteCost = optionalPrice(entry, "cache_creation_input_token_cost");
        rate.cacheWrite = cacheWriteCost ? *cacheWriteCost * 1'000'000 : rate.input * 1.25;
        // The catalogue has no 1-hour price; Anthropic charges twice the input price for it.
        rate.cacheWrite1h =
            field.key.find("claude") != std::string_view::npos ? rate.input * 2 : rate.cacheWrite;
        const auto cacheReadCost = optionalPrice(entry, "cache_read_input_token_cost");
        rate.cacheRead = cacheReadCost ? *cacheReadCost * 1'000'000 : rate.input * 0.1;
        // An absurd price overflows to infinity, which no JSON file can hold: keeping it would
        // make the cache written after this sync unreadable at the next start.
        if (!std::isfinite(rate.input) || !std::isfinite(rate.output) || !std::isfinite(rate.cacheWrite) ||
            !std::isfinite(rate.cacheWrite1h) || !std::isfinite(rate.cacheRead)) {
            continue;
        }
        rates.insert_or_assign(model, rate);
    }
    return rates;
}

} // namespace fernhollow::PricingFiles
