#include "core/sources/CodexParser.h"

#include "core/model/Clock.h"
#include "core/model/IsoDate.h"
#include "core/model/ModelPricing.h"
#include "core/model/Utf8.h"
#include "core/sources/JsonLines.h"
#include "core/sources/JsonlRecordReader.h"
#include "core/sources/LogFileWalker.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace fernhollow::CodexParser {
namespace {

using simdjson::dom::object;

// input, cached input, output, reasoning output, total: the order of the running totals.
using Totals = std::array<std::int64_t, 5>;

std::optional<Totals> totalsOf(simdjson::simdjson_result<simdjson::dom::element> usage) {
    object fields;
    if (usage.get_object().get(fields) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    Totals totals{};
    const char* names[] = {"input_tokens", "cached_input_tokens", "output_tokens", "reasoning_output_tokens",
                           "total_tokens"};
    for (std::size_t i = 0; i < totals.size(); ++i) {
        totals[i] = tokenCount(fields[names[i]]).value_or(0);
    }
    return totals;
}

std::string text(const Totals& totals) {
    std::string out;
    for (const std::int64_t value : totals) {
        out += std::to_string(value);
        out += ',';
    }
    return out;
}

// Claude Code names its project folders after the path, each "/" written "-"; Codex's
// projects are named the same way so the panel shortens both alike.
std::string projectOf(std::string_view cwd) {
    std::string project = utf8::toValid(cwd);
    for (char& c : project) {
        c = c == '/' ? '-' : c;
    }
    return project.empty() ? "unknown" : project;
}

std::optional<RateLimit> rateLimitOf(simdjson::simdjson_result<simdjson::dom::element> window,
                                     RateWindow kind, double observedAt) {
    double used = 0.0;
    if (window["used_percent"].get_double().get(used) != simdjson::SUCCESS || !std::isfinite(used) ||
        used < 0.0) {
        return std::nullopt;
    }
    RateLimit limit{UsageSource::codex, kind, used, std::nullopt, std::nullopt, observedAt};
    if (double resetsAt = 0.0; window["resets_at"].get_double().get(resetsAt) == simdjson::SUCCESS &&
                               std::isfinite(resetsAt) && resetsAt > 0.0) {
        limit.resetsAt = resetsAt;
    }
    if (const auto minutes = tokenCount(window["window_minutes"]); minutes && *minutes > 0) {
        limit.windowMinutes = *minutes;
    }
    return limit;
}

class Rollout {
public:
    void read(object line) {
        std::string_view type;
        object payload;
        if (line["type"].get_string().get(type) != simdjson::SUCCESS ||
            line["payload"].get_object().get(payload) != simdjson::SUCCESS) {
            return; // a legacy line
        }
        std::string_view value;
        if (type == "session_meta") {
            if (payload["id"].get_string().get(value) == simdjson::SUCCESS) {
                session_ = utf8::toValid(value);
            }
            if (payload["cwd"].get_string().get(value) == simdjson::SUCCESS) {
                project_ = projectOf(value);
            }
        } else if (type == "turn_context") {
            if (payload["model"].get_string().get(value) == simdjson::SUCCESS && !value.empty()) {
                model_ = utf8::toValid(value);
            }
        } else if (type == "event_msg" && payload["type"].get_string().get(value) == simdjson::SUCCESS &&
                   value == "token_count") {
            std::string_view stamp;
            if (line["timestamp"].get_string().get(stamp) != simdjson::SUCCESS) {
                stamp = {};
            }
            count(payload["info"]["total_token_usage"], stamp);
            noteRateLimits(payload["rate_limits"], stamp);
        }
    }

    std::vector<UsageRecord> take() { return std::move(records_); }
    std::vector<RateLimit> takeRateLimits() { return std::move(rateLimits_); }

private:
    void count(simdjson::simdjson_result<simdjson::dom::element> usage, std::string_view stamp) {
        const auto totals = totalsOf(usage);
        if (!totals) {
            return; // `info` is null on some events
        }
        // All counts zero beside a total: a report of the context's size, not a call.
        if ((*totals)[0] == 0 && (*totals)[1] == 0 && (*totals)[2] == 0 && (*totals)[3] == 0) {
            return;
        }
        const Totals before = last_;
        last_ = *totals;
        Totals turn{};
        for (std::size_t i = 0; i < turn.size(); ++i) {
            turn[i] = (*totals)[i] - before[i];
            if (turn[i] < 0) {
                return; // a counter reset: the new total is the baseline
            }
        }
        if (turn == Totals{}) {
            return; // the same total written again
        }
        UsageRecord& record = records_.emplace_back();
        record.messageId = "codex:" + text(before) + ">" + text(*totals);
        // Cached input is a part of input, reasoning a part of output.
        record.inputTokens = turn[0] - std::min(turn[1], turn[0]);
        record.cacheReadInputTokens = std::min(turn[1], turn[0]);
        record.outputTokens = turn[2];
        record.model = model_;
        // A turn's prompt is its own input: the long-context tier is judged on it.
        record.priceClass = ModelPricing::priceClassOf(record, 0);
        record.projectPath = project_;
        record.sessionId = session_;
        record.timestamp = isodate::parseInternetDateTime(stamp).value_or(Clock::system().now());
    }

    // Absent before Codex 0.63 and sometimes null; later versions add fields beside these.
    void noteRateLimits(simdjson::simdjson_result<simdjson::dom::element> limits, std::string_view stamp) {
        const auto observedAt = isodate::parseInternetDateTime(stamp);
        if (!observedAt) {
            return; // a reading that cannot be placed in time cannot be told latest
        }
        for (const auto& [key, window] :
             {std::pair{"primary", RateWindow::fiveHour}, std::pair{"secondary", RateWindow::weekly}}) {
            if (auto limit = rateLimitOf(limits[key], window, *observedAt)) {
                std::erase_if(rateLimits_, [&](const RateLimit& kept) { return kept.window == window; });
                rateLimits_.push_back(*limit);
            }
        }
    }

    InternedString model_{assumedModel};
    InternedString project_{"unknown"};
    InternedString session_;
    Totals last_{};
    std::vector<UsageRecord> records_;
    std::vector<RateLimit> rateLimits_;
};

// Keeps, of each window, the reading taken last.
void keepLatest(std::vector<RateLimit>& kept, const std::vector<RateLimit>& read) {
    for (const RateLimit& limit : read) {
        const auto same = std::find_if(kept.begin(), kept.end(),
                                       [&](const RateLimit& other) { return other.window == limit.window; });
        if (same == kept.end()) {
            kept.push_back(limit);
        } else if (limit.observedAt >= same->observedAt) {
            *same = limit;
        }
    }
}

bool isRollout(std::string_view name) {
    return name.ends_with(".jsonl");
}

} // namespace

std::optional<std::filesystem::path> defaultHome() {
    std::filesystem::path home;
    if (const char* variable = std::getenv("CODEX_HOME"); variable != nullptr && *variable != '\0') {
        home = variable;
    } else if (const char* user = std::getenv("HOME"); user != nullptr && *user != '\0') {
        home = std::filesystem::path(user) / ".codex";
    } else {
        return std::nullopt;
    }
    std::error_code error;
    return std::filesystem::exists(home, error) ? std::optional(home) : std::nullopt;
}

std::vector<UsageRecord> readRollout(std::string_view text, simdjson::dom::parser& parser,
                                     std::vector<RateLimit>* rateLimits) {
    Rollout rollout;
    forEachJsonLine(text, parser, [&](object line) { rollout.read(line); });
    if (rateLimits != nullptr) {
        keepLatest(*rateLimits, rollout.takeRateLimits());
    }
    return rollout.take();
}

ScanResult parseChanged(const std::filesystem::path& home, const LogFileStates& known, bool wholeFiles,
                        ScanProgress* progress) {
    // Live sessions first: a session in both folders keeps the live copy's times.
    std::vector<LogFile> files;
    bool walked = false;
    for (const char* folder : {"sessions", "archived_sessions"}) {
        walked = walkLogFiles(
                     home / folder, isRollout,
                     [&](const FoundLogFile& found) {
                         files.push_back({found.path, found.mtime, found.size, {}, sessionIdOf(found.path)});
                     }) ||
                 walked;
    }
    if (!walked) {
        return {};
    }
    // Rollouts are read in parallel; each thread's latest readings meet here.
    std::mutex latestGuard;
    std::vector<RateLimit> latest;
    ScanResult result = scanWholeLogs(
        files, known,
        [&](std::string_view text, const LogFile&, simdjson::dom::parser& parser) {
            std::vector<RateLimit> limits;
            std::vector<UsageRecord> records = readRollout(text, parser, &limits);
            const std::lock_guard lock(latestGuard);
            keepLatest(latest, limits);
            return records;
        },
        wholeFiles, progress);
    result.rateLimits = std::move(latest);
    return result;
}

} // namespace fernhollow::CodexParser
