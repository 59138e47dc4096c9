#pragma once

#include <cstdint>
#include <string_view>

namespace fernhollow {

// Where a record came from. The numbers are stored in the ledger: never renumber.
enum class UsageSource : std::int64_t { claudeCode = 1, openClaw = 2, openAI = 3, codex = 4, gemini = 5 };

inline constexpr UsageSource allUsageSources[] = {UsageSource::claudeCode, UsageSource::openClaw,
                                                  UsageSource::openAI, UsageSource::codex,
                                                  UsageSource::gemini};

constexpr std::string_view sourceKey(UsageSource source) {
    switch (source) {
    case UsageSource::claudeCode:
        return "claude";
    case UsageSource::openClaw:
        return "openclaw";
    case UsageSource::openAI:
        return "openai";
    case UsageSource::codex:
        return "codex";
    case UsageSource::gemini:
        return "gemini";
    }
    return "unknown";
}

} // namespace fernhollow
