#pragma once

#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

// Reads the chat sessions of the Gemini CLI: <home>/.gemini/tmp/<project>/chats/session-*.json
// (one JSON document) and session-*.jsonl (the session's fields, then a message or an update a
// line).
namespace fernhollow::GeminiParser {

// ${GEMINI_CLI_HOME:-~}/.gemini/tmp, when something exists there.
std::optional<std::filesystem::path> defaultRoot();

// The messages with token counts of one session file, in order. A message written twice (the
// second copy adds finished tool calls) keeps its id, and the ledger counts it once.
std::vector<UsageRecord> readSession(std::string_view text, const LogFile& file,
                                     simdjson::dom::parser& parser);

ScanResult parseChanged(const std::filesystem::path& root, const LogFileStates& known, bool wholeFiles,
                        ScanProgress* progress = nullptr);

} // namespace fernhollow::GeminiParser
