#include "core/model/BuiltInRates.h"

#include "core/model/ModelId.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace fernhollow::ModelPricing {
namespace {

constexpr std::size_t maxTiers = priceClass::contextTierMask;

std::optional<double> number(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0.0) {
        return std::nullopt;
    }
    return value;
}

// Five prices separated by commas, in the order of the table's columns.
std::optional<Rate> fivePrices(std::string_view list) {
    std::vector<double> prices;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const auto price = number(list.substr(start, end - start));
        if (!price) {
            return std::nullopt;
        }
        prices.push_back(*price);
        start = end + 1;
    }
    if (prices.size() != 5) {
        return std::nullopt;
    }
    return Rate{prices[0], prices[1], prices[2], prices[3], prices[4]};
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = line.find_first_not_of(" \t\r"); start != std::string_view::npos;
         start = line.find_first_not_of(" \t\r", start)) {
        const std::size_t end = std::min(line.find_first_of(" \t\r", start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end;
    }
    return fields;
}

// What is wrong with the option, or nothing when it was taken into `row`.
std::optional<std::string> applyOption(ModelRates& row, std::string_view option) {
    const auto factor = [&](std::string_view prefix, double& out) -> std::optional<std::string> {
        const auto value = number(option.substr(prefix.size()));
        if (!value || *value <= 0.0) {
            return std::string(option) + ": the factor must be a number above 0";
        }
        out = *value;
        return std::nullopt;
    };
    if (option.starts_with('>')) {
        const std::size_t equals = option.find('=');
        std::int64_t above = 0;
        const std::string_view count = option.substr(1, equals == std::string_view::npos ? 0 : equals - 1);
        const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), above);
        const auto rate =
            equals == std::string_view::npos ? std::nullopt : fivePrices(option.substr(equals + 1));
        if (error != std::errc() || end != count.data() + count.size() || above <= 0 || !rate) {
            return std::string(option) +
                   ": a context tier is written >TOKENS=input,output,write,write1h,read";
        }
        if ((!row.tiers.empty() && above <= row.tiers.back().above) || row.tiers.size() == maxTiers) {
            return std::string(option) + ": context tiers ascend, at most three to a row";
        }
        row.tiers.push_back({above, *rate});
        return std::nullopt;
    }
    if (option.starts_with("priority=")) {
        row.priority = fivePrices(option.substr(9));
        return row.priority ? std::nullopt : std::optional(std::string(option) + ": five prices expected");
    }
    if (option.starts_with("fast*")) {
        return factor("fast*", row.fastFactor);
    }
    if (option.starts_with("regional*")) {
        return factor("regional*", row.regionalFactor);
    }
    return std::string(option) + ": unknown option";
}

PriceSheet sheetOf(const ModelRates& row) {
    PriceSheet sheet;
    for (std::size_t priceClassBits = 0; priceClassBits < sheet.size(); ++priceClassBits) {
        const std::size_t tier =
            std::min<std::size_t>(priceClassBits & priceClass::contextTierMask, row.tiers.size());
        Rate rate = tier == 0 ? row.standard : row.tiers[tier - 1].rate;
        if ((priceClassBits & priceClass::priority) != 0 && row.priority) {
            rate = *row.priority;
        }
        if ((priceClassBits & priceClass::fast) != 0) {
            rate = scaled(rate, row.fastFactor);
        }
        sheet[priceClassBits] = rate;
    }
    return sheet;
}

} // namespace

PriceClass ModelRates::contextTier(std::int64_t promptTokens) const {
    PriceClass tier = 0;
    for (const ContextTier& contextTier : tiers) {
        tier += promptTokens > contextTier.above ? 1 : 0;
    }
    return tier;
}

std::variant<BuiltInTable, TableError> parseRateTable(std::string_view text) {
    BuiltInTable table;
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        const auto fields = fieldsOf(line);
        if (fields.empty()) {
            continue;
        }
        const auto error = [&](std::string message) { return TableError{lineNumber, std::move(message)}; };
        if (fields.size() < 6) {
            return error("a row is a model id, five prices and options");
        }
        const std::string id(fields[0]);
        // A row under any other spelling could never be found.
        if (ModelId::parse(id).canonical != id) {
            return error(id + " is not written as the canonical model id");
        }
        ModelRates row;
        double* const prices[] = {&row.standard.input, &row.standard.output, &row.standard.cacheWrite,
                                  &row.standard.cacheWrite1h, &row.standard.cacheRead};
        for (std::size_t i = 0; i < std::size(prices); ++i) {
            const auto price = number(fields[i + 1]);
            if (!price) {
                return error(std::string(fields[i + 1]) + " is not a price");
            }
            *prices[i] = *price;
        }
        for (std::size_t i = 6; i < fields.size(); ++i) {
            if (auto problem = applyOption(row, fields[i])) {
                return error(std::move(*problem));
            }
        }
        // No vendor publishes a price for both at once.
        if (row.priority && !row.tiers.empty()) {
            return error(id + ": a row has context tiers or a priority price, not both");
        }
        row.sheet = sheetOf(row);
        if (!table.emplace(id, std::move(row)).second) {
            return error(id + " has a second row");
        }
    }
    return table;
}

// GCC 12 at -O2 warns that destroying the parse result frees a pointer that is not on the heap:
// a false positive of its flow analysis through the variant's other alternative.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wfree-nonheap-object"
const BuiltInTable& builtInTable() {
    static const BuiltInTable table = [] {
        auto parsed = parseRateTable(builtInRateText);
        if (auto* table = std::get_if<BuiltInTable>(&parsed)) {
            return std::move(*table);
        }
        const TableError& error = std::get<TableError>(parsed);
        throw std::logic_error("built-in rate table, line " + std::to_string(error.line) + ": " +
                               error.message);
    }();
    return table;
}
#pragma GCC diagnostic pop

} // namespace fernhollow::ModelPricing
