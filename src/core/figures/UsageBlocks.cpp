#include "core/figures/UsageBlocks.h"

#include <algorithm>
#include <cmath>

namespace fernhollow::UsageBlocks {

std::vector<Block> blocksOf(std::span<const UsageRecord> records) {
    std::vector<Block> blocks;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const double t = records[i].timestamp;
        if (blocks.empty() || t - blocks.back().start > blockSeconds ||
            t - blocks.back().lastActivity > blockSeconds) {
            blocks.push_back({std::floor(t / 3600.0) * 3600.0, t, i, 0});
        }
        Block& block = blocks.back();
        block.lastActivity = std::max(block.lastActivity, t);
        ++block.count;
    }
    return blocks;
}

std::optional<Progress> progressOf(const Block& block, double usd, double now) {
    if (!(now < block.end()) || now < block.start) {
        return std::nullopt;
    }
    // The block starts at a whole hour before its first record, so a minute in it has passed;
    // the floor keeps a first record's rate from reading as a rate a second.
    const double hours = std::max(now - block.start, 60.0) / 3600.0;
    const double rate = usd / hours;
    const double left = block.end() - now;
    return Progress{rate, usd + rate * left / 3600.0, left};
}

std::optional<RateLimit> freshLimit(std::span<const RateLimit> limits, UsageSource agent, RateWindow window,
                                    double now) {
    const double length = window == RateWindow::fiveHour ? blockSeconds : weekSeconds;
    for (const RateLimit& limit : limits) {
        if (limit.agent == agent && limit.window == window && now - limit.observedAt < length &&
            (!limit.resetsAt || now < *limit.resetsAt)) {
            return limit;
        }
    }
    return std::nullopt;
}

} // namespace fernhollow::UsageBlocks
