#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Writes synthetic Claude Code projects folders whose correct scan result is known in
// advance, so a scan over gigabytes can be checked record for record, not just timed.
namespace fernhollow::bench {

// Raised whenever the tree generated for a given shape changes, so that cached trees are rebuilt.
inline constexpr int treeFormatVersion = 3;

struct TreeShape {
    std::uint64_t totalBytes = 0; // reached approximately: a file stops after the line that crosses its share
    int projects = 1;
    int sessionsPerProject = 1;
    std::uint64_t seed = 0;
    // The share of sessions, in percent, left as files of summary lines only, as the agent
    // leaves behind; a scan finds no records in them.
    int summaryOnlyPercent = 2;
};

struct TokenSums {
    std::int64_t input = 0;
    std::int64_t output = 0;
    std::int64_t cacheCreation = 0;
    std::int64_t cacheCreation1h = 0;
    std::int64_t cacheRead = 0;

    TokenSums& operator+=(const TokenSums& other) {
        input += other.input;
        output += other.output;
        cacheCreation += other.cacheCreation;
        cacheCreation1h += other.cacheCreation1h;
        cacheRead += other.cacheRead;
        return *this;
    }
    friend TokenSums operator+(TokenSums a, const TokenSums& b) { return a += b; }
    friend bool operator==(const TokenSums&, const TokenSums&) = default;
};

struct TreeStats {
    std::size_t files = 0;
    std::size_t lines = 0;
    // Every line holding a message usage object: streamed copies, replies repeated by resumed
    // sessions and zero-count error replies included.
    std::size_t usageLines = 0;
    // What a correct scan returns: one record per message id across the tree, leaving out
    // the error replies whose counts are all zero.
    std::size_t distinctMessages = 0;
    std::uint64_t bytes = 0;
    // Over those records, each taken from its final streamed copy.
    TokenSums tokens;

    friend bool operator==(const TreeStats&, const TreeStats&) = default;
};

// `root` must be absent or empty. The same shape and seed give a byte-identical tree.
// Throws std::runtime_error or std::filesystem::filesystem_error when it cannot write.
TreeStats generateClaudeTree(const std::filesystem::path& root, const TreeShape& shape);

// "name value" lines, one per field; parseStats reads back exactly what formatStats wrote.
std::string formatStats(const TreeStats& stats);
std::optional<TreeStats> parseStats(std::string_view text);

} // namespace fernhollow::bench
