#pragma once

#include "core/model/PriceClass.h"
#include "core/model/Rate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The curated list prices that ship with the program, kept as data (BuiltInRates.tsv, one
// row a model) so that a new model or a changed price is one edited line.
namespace fernhollow::ModelPricing {

// The prices of a prompt longer than `above` tokens, its input, cache writes and reads together.
struct ContextTier {
    std::int64_t above = 0;
    Rate rate;
};

struct ModelRates {
    Rate standard;
    std::vector<ContextTier> tiers; // ascending, at most three
    double fastFactor = 1.0;
    std::optional<Rate> priority;
    double regionalFactor = 1.0; // on a Bedrock geography or in-region endpoint
    PriceSheet sheet;            // every price class worked out from the above

    // The context tier, as a price class, of a prompt of `promptTokens`.
    PriceClass contextTier(std::int64_t promptTokens) const;
};

using BuiltInTable = std::unordered_map<std::string, ModelRates, TransparentStringHash, std::equal_to<>>;

struct TableError {
    std::size_t line = 0;
    std::string message;
};

std::variant<BuiltInTable, TableError> parseRateTable(std::string_view text);

// The table compiled into the program, parsed on first use.
extern const std::string_view builtInRateText;
const BuiltInTable& builtInTable();

} // namespace fernhollow::ModelPricing
