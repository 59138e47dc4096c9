#include "core/figures/BudgetPreferences.h"

#include "core/common/PaddedFile.h"

#include <simdjson.h>

namespace fernhollow {
namespace {

// A preferences file holds a handful of keys; one larger than this is not one the settings wrote.
constexpr std::uint64_t largestPreferencesFile = 1024 * 1024;

void readNumber(simdjson::dom::object preferences, const char* key, double& value) {
    double stored = 0.0;
    if (preferences[key].get_double().get(stored) == simdjson::SUCCESS) {
        value = stored;
    }
}

} // namespace

BudgetPreferences BudgetPreferences::read(const std::filesystem::path& preferencesFile) {
    BudgetPreferences budget;
    const auto file = PaddedFile::read(preferencesFile, 0, largestPreferencesFile + 1);
    if (!file || file->bytes().size() > largestPreferencesFile) {
        return budget;
    }
    simdjson::dom::parser parser;
    simdjson::dom::object preferences;
    if (parser.parse(file->bytes().data(), file->bytes().size(), false).get_object().get(preferences) !=
        simdjson::SUCCESS) {
        return budget;
    }
    readNumber(preferences, monthlyBudgetKey, budget.monthlyBudgetUSD);
    readNumber(preferences, warnThresholdKey, budget.warnThresholdPct);
    readNumber(preferences, criticalThresholdKey, budget.criticalThresholdPct);
    return budget;
}

} // namespace fernhollow
