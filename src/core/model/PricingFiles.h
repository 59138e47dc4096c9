#pragma once

#include "core/model/ModelPricing.h"

#include <string>
#include <string_view>
#include <variant>

// The file formats behind the price overrides and the catalogue sync, free of any I/O.
namespace fernhollow::PricingFiles {

// The example overrides file, written for the user to copy from.
extern const std::string_view exampleText;

struct DecodeError {
    std::string description;
};

// An object from model id to rate object. Keys are taken exactly as written. Any value
// that is not a usable rate object fails the whole document.
std::variant<ModelPricing::RateTable, DecodeError> decodeRateTable(std::string_view bytes);

// Compact JSON object from model id to a rate with all five prices.
std::string encodeRateTable(const ModelPricing::RateTable& rates);

// Converts the LiteLLM catalogue (USD per token) into rates per million tokens, keyed by
// canonical model id. Never fails: what cannot be used is left out.
ModelPricing::RateTable parseLiteLLM(std::string_view bytes);

} // namespace fernhollow::PricingFiles
