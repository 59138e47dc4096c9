#pragma once

#include "core/model/RateLimit.h"
#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

// Reads the rollouts of the Codex CLI: <home>/sessions/YYYY/MM/DD/rollout-*.jsonl and
// <home>/archived_sessions/*.jsonl.
namespace fernhollow::CodexParser {

// Rollouts before turn contexts were written name no model; their turns are taken as this one's.
inline constexpr std::string_view assumedModel = "gpt-5";

// $CODEX_HOME, else ~/.codex, when something exists there.
std::optional<std::filesystem::path> defaultHome();

// The turns of one rollout, in order. Codex writes a running total of the session's tokens
// after each turn, and often writes it again unchanged; a turn is what the total advanced by.
// A total that falls is a counter reset and starts a new baseline. A turn is known by the
// totals before and after it, which a forked or resumed rollout repeats when it copies its
// parent's history: the ledger then keeps it once.
// `rateLimits`, when given, receives the latest use of each plan window that the rollout's
// token counts tell of (`primary` the 5-hour window, `secondary` the week).
std::vector<UsageRecord> readRollout(std::string_view text, simdjson::dom::parser& parser,
                                     std::vector<RateLimit>* rateLimits = nullptr);

ScanResult parseChanged(const std::filesystem::path& home, const LogFileStates& known, bool wholeFiles,
                        ScanProgress* progress = nullptr);

} // namespace fernhollow::CodexParser
