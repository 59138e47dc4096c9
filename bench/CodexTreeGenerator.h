#pragma once

#include "ClaudeTreeGenerator.h"

#include <cstdint>
#include <filesystem>

// Writes a synthetic Codex CLI home (sessions/YYYY/MM/DD/rollout-*.jsonl) whose correct scan
// result is known in advance.
namespace fernhollow::bench {

// Raised whenever the home generated for a given shape changes, so that cached homes are rebuilt.
inline constexpr int codexHomeFormatVersion = 1;

struct CodexShape {
    std::uint64_t totalBytes =
        0; // reached approximately: a rollout stops after the turn that crosses its share
    int sessions = 1;
    std::uint64_t seed = 0;
};

// `home` must be absent or empty. The same shape gives a byte-identical home. In the stats,
// `usageLines` counts the token_count events (those that repeat a total included),
// `distinctMessages` the turns, and the tokens are the turns' sums: input without its cached
// part, cached input as cache reads, output with its reasoning.
TreeStats generateCodexHome(const std::filesystem::path& home, const CodexShape& shape);

} // namespace fernhollow::bench
