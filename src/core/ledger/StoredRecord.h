#pragma once

#include "core/common/HugePages.h"

#include <array>
#include <cstdint>
#include <vector>

namespace fernhollow {

inline constexpr std::int64_t quarterMs = 15 * 60 * 1000;

// The quarter-hour a time in milliseconds falls in, counted from the epoch; floored, so times
// before the epoch fall in the quarter that holds them too.
constexpr std::int64_t quarterOf(std::int64_t ms) {
    return (ms - ((ms % quarterMs) + quarterMs) % quarterMs) / quarterMs;
}

// A record as the ledger's row holds it: names by their ids, the time in milliseconds.
struct StoredRecord {
    std::int64_t identity = 0;
    std::int64_t source = 0;
    std::int64_t at = 0;
    std::int64_t model = 0;
    std::int64_t project = 0;
    std::int64_t session = 0;
    std::array<std::int64_t, 5> counts{}; // input, output, cache write, its 1-hour part, cache read
    std::int64_t priceClass = 0;
    // The machine whose logs it came from: 0 for this one, else a row of the devices table.
    std::int64_t device = 0;

    friend bool operator==(const StoredRecord&, const StoredRecord&) = default;
};

// Another machine's records as its file held them: a merge holds millions.
using StoredRecords = std::vector<StoredRecord, HugePageAllocator<StoredRecord>>;

// Agents stream a reply as copies that grow: a larger copy replaces a smaller one, never the
// other way. A copy as large that reads its model or price class otherwise is the same line
// read by a newer reader.
constexpr bool supersedes(const StoredRecord& copy, const StoredRecord& kept) {
    const auto size = [](const StoredRecord& r) {
        return r.counts[0] + r.counts[1] + r.counts[2] + r.counts[4];
    };
    return size(copy) > size(kept) ||
           (size(copy) == size(kept) && (copy.model != kept.model || copy.priceClass != kept.priceClass));
}

} // namespace fernhollow
