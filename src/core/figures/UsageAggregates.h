#pragma once

#include "core/figures/LocalCalendar.h"
#include "core/model/Clock.h"
#include "core/model/InternedString.h"
#include "core/model/UsageRecord.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The figures that the menu-bar label, the panel and the settings window show, computed afresh
// from the store's record lists on every read. Money is "API-equivalent" US dollars: every
// record priced through one ModelPricing::Pricer, whatever the pricing mode (both modes price
// alike). Each sum starts at 0.0 and adds costs in list order, so equal inputs always give
// bit-equal figures. "Today", "this week" and "this month" are local to the calendar given.
namespace fernhollow::UsageAggregates {

// The store's three lists; "all records" is their concatenation in this order.
struct UsageLists {
    std::span<const UsageRecord> claudeCode;
    std::span<const UsageRecord> openClaw;
    std::span<const UsageRecord> openAI;
};

struct ModelSpend {
    InternedString model; // the id its price is kept under, or its canonical id when unpriced
    double usd = 0.0;
    friend bool operator==(const ModelSpend&, const ModelSpend&) = default;
};

struct ProjectSpend {
    InternedString project;
    double usd = 0.0;
    friend bool operator==(const ProjectSpend&, const ProjectSpend&) = default;
};

struct DaySpend {
    double date = 0.0; // the first moment of the local day
    double usd = 0.0;
    friend bool operator==(const DaySpend&, const DaySpend&) = default;
};

// A Claude Code session with recent activity, with totals over all of its records.
struct LiveSession {
    InternedString id;
    std::string projectShortName; // of the project of the session's first record
    double totalUSD = 0.0;
    std::int64_t totalTokens = 0;
    double lastActivity = 0.0;
    InternedString model; // the most frequent; among equally frequent ones the first by name
    std::int64_t messageCount = 0;
    friend bool operator==(const LiveSession&, const LiveSession&) = default;
};

// Input, output, cache-write and cache-read tokens, saturating. The one-hour cache-write count
// is left out: it is a part of the cache-write count.
std::int64_t tokenTotal(const UsageRecord& record);

// The models that no rate table prices, spelled as the logs spell them (so that the user
// recognises them and can price them by that name), the most tokens first, equal totals by name.
std::vector<std::string> unpricedModels(const UsageLists& lists);

// Claude Code sessions whose newest record is at most `minutes` old (or in the future), the
// most recently active first, equal times by id. OpenClaw and OpenAI records have no sessions
// that the panel could show as live.
std::vector<LiveSession> liveSessions(const UsageLists& lists, const Clock& clock, int minutes);

// A Claude Code project folder name ("-Users-dev-code-myproj", each "/" of the path written as
// "-") down to its last non-empty piece ("myproj"); a name without one comes back unchanged.
std::string shortenProjectName(std::string_view name);

inline constexpr int snapshotDays = 14;
inline constexpr int snapshotLiveMinutes = 5;

// Every figure the panel shows at one moment.
struct UsageSnapshot {
    // Spend at or after the start of the local day, week, month, and of the last 2,592,000 s.
    // No upper bound: a record stamped in the future counts. A start the calendar cannot form
    // gives 0.0.
    double todayUSD = 0.0;
    double weekUSD = 0.0;
    double monthUSD = 0.0;
    double last30DaysUSD = 0.0;
    // This month's spend grouped by model (however the logs spell it) or by project name as
    // stored, most expensive first, equal sums by name. Groups that sum to 0.0 stay.
    std::vector<ModelSpend> monthByModel;
    std::vector<ProjectSpend> monthByProject;
    // The last `snapshotDays` calendar days, oldest first and ending with today, days without
    // spend included. A day the calendar cannot form is left out.
    std::vector<DaySpend> dailySeries;
    // The mean daily spend over the seven days before today.
    double avg7dPriorDaily = 0.0;
    // As liveSessions() gives them for `snapshotLiveMinutes`.
    std::vector<LiveSession> liveSessions;
    std::vector<std::string> unpricedModels;
    // How many records the unpriced models have, and what the fallback rate makes of them:
    // how much of every figure is a guess.
    std::int64_t unpricedRecords = 0;
    double unpricedUSDAtFallback = 0.0;
    friend bool operator==(const UsageSnapshot&, const UsageSnapshot&) = default;
};

// One walk over the records, each priced once, for a redraw that reads every figure; reads
// the clock once. Fastest with the Claude Code list in time order, as the store keeps it: out
// of order, the live sessions take a second walk over that list.
UsageSnapshot computeSnapshot(const UsageLists& lists, const Clock& clock, const LocalCalendar& calendar);

} // namespace fernhollow::UsageAggregates
