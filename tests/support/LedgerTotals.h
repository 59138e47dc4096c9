#pragma once

#include "core/ledger/Ledger.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>

namespace fernhollow::test {

// A ledger's sums over its models: enough to tell a record counted twice or a copy replaced.
struct LedgerTotals {
    std::int64_t records = 0;
    std::int64_t input = 0;
    std::int64_t output = 0;
    std::int64_t cacheRead = 0;
    friend bool operator==(const LedgerTotals&, const LedgerTotals&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const LedgerTotals& totals) {
    return out << totals.records << " records, " << totals.input << " in, " << totals.output << " out, "
               << totals.cacheRead << " cache read";
}

// The totals of one source, or of all when none is named.
inline LedgerTotals totalsOf(const std::filesystem::path& ledgerPath,
                             std::optional<UsageSource> source = {}) {
    LedgerTotals totals;
    for (const ModelTotal& total : Ledger(ledgerPath).modelTotals()) {
        if (!source || total.source == *source) {
            totals.records += total.records;
            totals.input += total.sums.inputTokens;
            totals.output += total.sums.outputTokens;
            totals.cacheRead += total.sums.cacheReadInputTokens;
        }
    }
    return totals;
}

} // namespace fernhollow::test
