#pragma once

#include "core/ledger/Sqlite.h"
#include "core/ledger/StoredRecord.h"

#include <array>
#include <cstdint>
#include <unordered_map>

namespace fernhollow {

// What one pass changes in the ledger's quarter-hour and per-model totals, summed while its
// records are written and then applied in one statement per total touched: a pass of 200,000
// records touches a few thousand totals, not 200,000.
class TotalsDelta {
public:
    void add(const StoredRecord& record) { change(record, +1); }
    void remove(const StoredRecord& record) { change(record, -1); }
    // Within the caller's transaction. A quarter left without records goes, so the table only
    // holds quarters with use in them.
    void writeTo(sqlite::Database& db) const;

private:
    struct Sums {
        std::array<std::int64_t, 5> counts{};
        std::int64_t records = 0;
    };

    // A merge of another machine's history touches tens of thousands of quarters, at random.
    struct KeyHash {
        template <std::size_t n> std::size_t operator()(const std::array<std::int64_t, n>& key) const {
            std::uint64_t hash = 0;
            for (const std::int64_t part : key) {
                hash = (hash ^ static_cast<std::uint64_t>(part)) * 0x9e3779b97f4a7c15ULL;
            }
            return static_cast<std::size_t>(hash ^ (hash >> 29));
        }
    };

    void change(const StoredRecord& record, std::int64_t sign);

    using QuarterKey = std::array<std::int64_t, 6>; // quarter, source, model, project, price class, device
    using ModelKey = std::array<std::int64_t, 4>;   // source, model, price class, device
    std::unordered_map<QuarterKey, Sums, KeyHash> quarters_;
    std::unordered_map<ModelKey, Sums, KeyHash> models_;
    // The totals each machine's record before changed, by the machine's row modulo their number: in
    // time order a machine's records mostly share their totals with the one before, and the
    // machines of a merge come interleaved.
    struct Recent {
        QuarterKey quarterKey{};
        Sums* quarter = nullptr;
        Sums* model = nullptr;
    };
    std::array<Recent, 8> recent_{};
};

} // namespace fernhollow
