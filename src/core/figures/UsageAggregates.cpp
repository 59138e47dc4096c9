#include "core/figures/UsageAggregates.h"

#include "core/common/SaturatingAdd.h"

#include "core/model/ModelPricing.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <utility>

namespace fernhollow::UsageAggregates {
namespace {

using ModelPricing::Pricer;

constexpr double thirtyDaysSeconds = 30 * 86'400.0;
constexpr double infinity = std::numeric_limits<double>::infinity();
// A window start that every comparison fails: the window the calendar cannot form selects nothing.
constexpr double unformed = std::numeric_limits<double>::quiet_NaN();

template <typename Visit> void forEachRecord(const UsageLists& lists, const Visit& visit) {
    for (const std::span<const UsageRecord> list : {lists.claudeCode, lists.openClaw, lists.openAI}) {
        for (const UsageRecord& record : list) {
            visit(record);
        }
    }
}

// A NaN sum (reachable only through absurd override rates) sorts after every number, so
// the order stays a strict weak order.
bool spentMore(double a, double b) {
    return a > b || (std::isnan(b) && !std::isnan(a));
}

template <typename Row> void sortBySpend(std::vector<Row>& rows, InternedString Row::*name) {
    std::sort(rows.begin(), rows.end(), [name](const Row& a, const Row& b) {
        if (spentMore(a.usd, b.usd)) {
            return true;
        }
        if (spentMore(b.usd, a.usd)) {
            return false;
        }
        return a.*name < b.*name;
    });
}

struct DayWindow {
    double start = 0.0;
    double end = 0.0;
};

// The last `days` local days, oldest first; empty where the calendar cannot form a day.
std::vector<std::optional<DayWindow>> dayWindows(const LocalCalendar& calendar, double now, int days) {
    std::vector<std::optional<DayWindow>> windows;
    const auto today = calendar.startOfDay(now);
    if (days <= 0 || !today) {
        return windows;
    }
    windows.reserve(static_cast<std::size_t>(days));
    for (int back = days - 1; back >= 0; --back) {
        const auto start = calendar.addDays(*today, -back);
        const auto end = start ? calendar.addDays(*start, 1) : std::nullopt;
        windows.push_back(end ? std::optional(DayWindow{*start, *end}) : std::nullopt);
    }
    return windows;
}

std::vector<DaySpend> seriesOf(std::span<const std::optional<DayWindow>> windows,
                               std::span<const double> sums) {
    std::vector<DaySpend> series;
    series.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        if (windows[i]) {
            series.push_back({windows[i]->start, sums[i]});
        }
    }
    return series;
}

// The series without its last entry, today, averaged; days without spend count as 0.0.
double meanBeforeLast(std::span<const DaySpend> series) {
    if (series.size() < 2) {
        return 0.0;
    }
    double sum = 0.0;
    for (const DaySpend& day : series.first(series.size() - 1)) {
        sum += day.usd;
    }
    return sum / static_cast<double>(series.size() - 1);
}

std::vector<std::string> byTokensDescending(std::vector<std::pair<std::string, std::int64_t>> totals) {
    std::sort(totals.begin(), totals.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::vector<std::string> ids;
    ids.reserve(totals.size());
    for (auto& [id, tokens] : totals) {
        ids.push_back(std::move(id));
    }
    return ids;
}

// A live session's figures, gathered record by record in list order.
class SessionTally {
public:
    void add(const UsageRecord& record, double cost) {
        if (count_ == 0) {
            id_ = record.sessionId;
            firstProject_ = record.projectPath;
        }
        ++count_;
        usd_ += cost;
        tokens_ = addSaturating(tokens_, tokenTotal(record));
        if (record.timestamp > lastActivity_) {
            lastActivity_ = record.timestamp;
        }
        // A session uses one or two models, so a scan beats a map.
        const auto counted = std::find_if(models_.begin(), models_.end(),
                                          [&](const auto& entry) { return entry.first == record.model; });
        if (counted != models_.end()) {
            ++counted->second;
        } else {
            models_.emplace_back(record.model, 1);
        }
    }

    bool activeSince(double cutoff) const { return lastActivity_ >= cutoff; }

    LiveSession live() const {
        const auto favourite =
            std::min_element(models_.begin(), models_.end(), [](const auto& a, const auto& b) {
                return a.second != b.second ? a.second > b.second : a.first < b.first;
            });
        return {.id = id_,
                .projectShortName = shortenProjectName(firstProject_),
                .totalUSD = usd_,
                .totalTokens = tokens_,
                .lastActivity = lastActivity_,
                .model = favourite->first,
                .messageCount = count_};
    }

private:
    InternedString id_;
    InternedString firstProject_;
    std::int64_t count_ = 0;
    double usd_ = 0.0;
    std::int64_t tokens_ = 0;
    double lastActivity_ = -infinity;
    std::vector<std::pair<InternedString, std::int64_t>> models_;
};

std::vector<LiveSession> liveOf(const std::vector<SessionTally>& sessions, double cutoff) {
    std::vector<LiveSession> live;
    for (const SessionTally& session : sessions) {
        if (session.activeSince(cutoff)) {
            live.push_back(session.live());
        }
    }
    std::sort(live.begin(), live.end(), [](const LiveSession& a, const LiveSession& b) {
        return a.lastActivity != b.lastActivity ? a.lastActivity > b.lastActivity : a.id < b.id;
    });
    return live;
}

// Every session tallied, then those active since the cutoff kept.
std::vector<LiveSession> liveSessionsOf(std::span<const UsageRecord> claudeCode, const Pricer& pricer,
                                        double cutoff) {
    std::unordered_map<InternedString, std::size_t> slots;
    std::vector<SessionTally> sessions;
    for (const UsageRecord& record : claudeCode) {
        const auto [slot, inserted] = slots.try_emplace(record.sessionId, sessions.size());
        if (inserted) {
            sessions.emplace_back();
        }
        sessions[slot->second].add(record, pricer.cost(record));
    }
    return liveOf(sessions, cutoff);
}

// Slots of a vector, found by a name's shared identity rather than its characters. Most
// records take a lookup, so it is open addressing over the addresses: one multiplication and
// mostly one probe, where a node-based map divides and chases a node. Records come in runs
// of one name, so the last answer is tried first.
class SlotIndex {
public:
    // The name's slot, and whether it is new (the caller then appends the slot).
    std::pair<std::size_t, bool> find(const InternedString& name) {
        const void* key = name.identity();
        if (key == lastKey_) {
            return {lastSlot_, false};
        }
        if (2 * (used_ + 1) > entries_.size()) {
            grow();
        }
        Entry& entry = entries_[position(key)];
        const bool inserted = entry.key == nullptr;
        if (inserted) {
            entry = {key, used_++};
        }
        lastKey_ = key;
        lastSlot_ = entry.slot;
        return {lastSlot_, inserted};
    }

    // The name's slot, if it has one; adds none.
    std::optional<std::size_t> slotOf(const InternedString& name) const {
        if (used_ == 0) {
            return std::nullopt;
        }
        const Entry& entry = entries_[position(name.identity())];
        return entry.key != nullptr ? std::optional(entry.slot) : std::nullopt;
    }

private:
    struct Entry {
        const void* key = nullptr; // names have addresses, so no name is null
        std::size_t slot = 0;
    };

    // Where the key is, or the free entry where it would go.
    std::size_t position(const void* key) const {
        // Fibonacci hashing spreads addresses that share their low bits.
        std::size_t at = (reinterpret_cast<std::uintptr_t>(key) * 0x9e3779b97f4a7c15ULL) >> shift_;
        while (entries_[at].key != nullptr && entries_[at].key != key) {
            at = (at + 1) & (entries_.size() - 1);
        }
        return at;
    }

    void grow() {
        std::vector<Entry> old =
            std::exchange(entries_, std::vector<Entry>(std::max<std::size_t>(16, 2 * entries_.size())));
        shift_ = 64 - std::countr_zero(entries_.size());
        for (const Entry& entry : old) {
            if (entry.key != nullptr) {
                entries_[position(entry.key)] = entry;
            }
        }
    }

    std::vector<Entry> entries_;
    int shift_ = 0;
    std::size_t used_ = 0;
    const void* lastKey_ = nullptr;
    std::size_t lastSlot_ = 0;
};

struct ModelSlot {
    // A copy shares the snapshot of the rate tables; one per model spelling keeps the copy's
    // memo of the last model's rate always right, where a single pricer would miss on every switch.
    Pricer pricer;
    std::size_t group = 0;               // its name's row among the month's groups
    std::optional<std::size_t> unpriced; // its row among the unpriced totals
};

struct ModelGroup {
    ModelSpend spend;
    bool inMonth = false;
};

} // namespace

std::int64_t tokenTotal(const UsageRecord& record) {
    return addSaturating(addSaturating(record.inputTokens, record.outputTokens),
                         addSaturating(record.cacheCreationInputTokens, record.cacheReadInputTokens));
}

std::vector<std::string> unpricedModels(const UsageLists& lists) {
    const Pricer pricer;
    std::vector<std::pair<std::string, std::int64_t>> totals;
    std::unordered_map<InternedString, std::size_t> slots;
    forEachRecord(lists, [&](const UsageRecord& record) {
        if (pricer.effectiveRate(record.model) != nullptr) {
            return;
        }
        const auto [slot, added] = slots.try_emplace(record.model, totals.size());
        if (added) {
            totals.emplace_back(record.model.str(), 0);
        }
        totals[slot->second].second = addSaturating(totals[slot->second].second, tokenTotal(record));
    });
    return byTokensDescending(std::move(totals));
}

std::vector<LiveSession> liveSessions(const UsageLists& lists, const Clock& clock, int minutes) {
    return liveSessionsOf(lists.claudeCode, Pricer(), clock.now() - minutes * 60.0);
}

std::string shortenProjectName(std::string_view name) {
    const std::string_view rest = name.starts_with('-') ? name.substr(1) : name;
    const std::size_t lastEnd = rest.find_last_not_of('-');
    if (lastEnd == std::string_view::npos) {
        return std::string(name);
    }
    const std::size_t dash = rest.rfind('-', lastEnd);
    const std::size_t first = dash == std::string_view::npos ? 0 : dash + 1;
    return std::string(rest.substr(first, lastEnd + 1 - first));
}

UsageSnapshot computeSnapshot(const UsageLists& lists, const Clock& clock, const LocalCalendar& calendar) {
    static_assert(snapshotDays >= 8, "the prior-week average reads the last eight days of the series");
    const double now = clock.now();
    const double todayStart = calendar.startOfDay(now).value_or(unformed);
    const double weekStart = calendar.startOfWeek(now).value_or(unformed);
    const double monthStart = calendar.startOfMonth(now).value_or(unformed);
    const double last30Start = now - thirtyDaysSeconds;
    const auto windows = dayWindows(calendar, now, snapshotDays);
    // Most records are older than the series; one pair of comparisons passes them over.
    double seriesStart = infinity;
    double seriesEnd = -infinity;
    for (const auto& window : windows) {
        if (window) {
            seriesStart = std::min(seriesStart, window->start);
            seriesEnd = std::max(seriesEnd, window->end);
        }
    }

    const Pricer pricer;
    SlotIndex modelIndex;
    std::vector<ModelSlot> models;
    std::unordered_map<InternedString, std::size_t> groupIndex;
    std::vector<ModelGroup> groups;
    std::vector<std::pair<std::string, std::int64_t>> unpriced;
    SlotIndex projectIndex;
    std::vector<ProjectSpend> projects;
    // A session is live when one of its records is at or after the cutoff. In a list in time
    // order all such records sit at its end, so only their sessions are tallied, which spares
    // a lookup per record for the thousands of others. A recent record met anywhere else
    // reveals a list out of order; the sessions are then grouped in full after the walk.
    const double liveCutoff = now - snapshotLiveMinutes * 60.0;
    SlotIndex liveIndex;
    std::vector<SessionTally> live;
    for (auto record = lists.claudeCode.rbegin();
         record != lists.claudeCode.rend() && record->timestamp >= liveCutoff; ++record) {
        if (liveIndex.find(record->sessionId).second) {
            live.emplace_back();
        }
    }
    bool outOfOrder = false;
    std::vector<double> daySums(windows.size(), 0.0);
    UsageSnapshot snapshot;

    const auto visit = [&](const UsageRecord& record, bool claudeCode) {
        const auto [modelSlot, newModel] = modelIndex.find(record.model);
        if (newModel) {
            const InternedString& name = pricer.displayName(record.model);
            const auto [group, newGroup] = groupIndex.try_emplace(name, groups.size());
            if (newGroup) {
                groups.push_back({{name, 0.0}, false});
            }
            models.push_back({pricer, group->second, std::nullopt});
            if (pricer.effectiveRate(record.model) == nullptr) {
                models.back().unpriced = unpriced.size();
                unpriced.emplace_back(record.model.str(), 0);
            }
        }
        ModelSlot& model = models[modelSlot];
        const double t = record.timestamp;
        const double cost = model.pricer.cost(record);
        if (t >= todayStart) {
            snapshot.todayUSD += cost;
        }
        if (t >= weekStart) {
            snapshot.weekUSD += cost;
        }
        if (t >= monthStart) {
            snapshot.monthUSD += cost;
            groups[model.group].spend.usd += cost;
            groups[model.group].inMonth = true;
            const auto [projectSlot, newProject] = projectIndex.find(record.projectPath);
            if (newProject) {
                projects.push_back({record.projectPath, 0.0});
            }
            projects[projectSlot].usd += cost;
        }
        if (t >= last30Start) {
            snapshot.last30DaysUSD += cost;
        }
        if (t >= seriesStart && t < seriesEnd) {
            for (std::size_t i = 0; i < windows.size(); ++i) {
                if (windows[i] && t >= windows[i]->start && t < windows[i]->end) {
                    daySums[i] += cost;
                }
            }
        }
        if (model.unpriced) {
            auto& tokens = unpriced[*model.unpriced].second;
            tokens = addSaturating(tokens, tokenTotal(record));
            ++snapshot.unpricedRecords;
            snapshot.unpricedUSDAtFallback += cost;
        }
        if (claudeCode) {
            if (const auto session = liveIndex.slotOf(record.sessionId)) {
                live[*session].add(record, cost);
            } else if (t >= liveCutoff) {
                outOfOrder = true;
            }
        }
    };
    for (const UsageRecord& record : lists.claudeCode) {
        visit(record, true);
    }
    for (const std::span<const UsageRecord> list : {lists.openClaw, lists.openAI}) {
        for (const UsageRecord& record : list) {
            visit(record, false);
        }
    }

    for (const ModelGroup& group : groups) {
        if (group.inMonth) {
            snapshot.monthByModel.push_back(group.spend);
        }
    }
    sortBySpend(snapshot.monthByModel, &ModelSpend::model);
    snapshot.monthByProject = std::move(projects);
    sortBySpend(snapshot.monthByProject, &ProjectSpend::project);
    snapshot.dailySeries = seriesOf(windows, daySums);
    if (windows.size() >= 8) {
        const std::size_t lastWeek = windows.size() - 8;
        snapshot.avg7dPriorDaily = meanBeforeLast(seriesOf(
            std::span(windows).subspan(lastWeek), std::span<const double>(daySums).subspan(lastWeek)));
    }
    snapshot.liveSessions =
        outOfOrder ? liveSessionsOf(lists.claudeCode, pricer, liveCutoff) : liveOf(live, liveCutoff);
    snapshot.unpricedModels = byTokensDescending(std::move(unpriced));
    return snapshot;
}

} // namespace fernhollow::UsageAggregates
