#pragma once

#include "core/model/RateLimit.h"
#include "core/model/UsageRecord.h"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

// The 5-hour windows that subscription plans meter, estimated from the local logs alone: use
// from other machines and from the web never reaches them.
namespace fernhollow::UsageBlocks {

inline constexpr double blockSeconds = 5 * 3600.0;
inline constexpr double weekSeconds = 7 * 86'400.0;

// A run of records: it starts at its first record's time floored to the hour, and the next
// block starts at a record more than five hours after this block's start or after the record
// before it.
struct Block {
    double start = 0.0;
    double lastActivity = 0.0;
    std::size_t first = 0; // the index of its first record
    std::size_t count = 0;

    double end() const { return start + blockSeconds; }
};

// `records` oldest first.
std::vector<Block> blocksOf(std::span<const UsageRecord> records);

// How a block that is still open at `now` is going.
struct Progress {
    double burnRatePerHour = 0.0; // dollars an hour over the block so far
    double projectedUSD = 0.0;    // at the block's end, at that rate
    double secondsLeft = 0.0;
};

// None once the block has ended.
std::optional<Progress> progressOf(const Block& block, double usd, double now);

// The agent's own reading of a plan window, when one is still telling: taken within the
// window's length and not yet past its reset.
std::optional<RateLimit> freshLimit(std::span<const RateLimit> limits, UsageSource agent, RateWindow window,
                                    double now);

} // namespace fernhollow::UsageBlocks
