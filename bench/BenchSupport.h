#pragma once

#include "ClaudeTreeGenerator.h"
#include "core/model/UsageRecord.h"

#include <string>
#include <string_view>
#include <vector>

// What the benchmark programs share when they check a store or a scan against a ground truth.
namespace fernhollow::bench {

TokenSums sumTokens(const std::vector<UsageRecord>& records);

// "token sums differ (got/expected): input a/b, ..."; empty when the sums are equal.
std::string tokenSumsDifference(const TokenSums& got, const TokenSums& want);

// A kilobyte field of /proc/self/status ("VmRSS", "VmHWM"), or -1 when it cannot be read.
long statusKilobytes(std::string_view field);

} // namespace fernhollow::bench
