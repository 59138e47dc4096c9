#include "BenchSupport.h"

#include <cstdlib>
#include <fstream>

namespace fernhollow::bench {

TokenSums sumTokens(const std::vector<UsageRecord>& records) {
    TokenSums sums;
    for (const UsageRecord& record : records) {
        sums += {record.inputTokens, record.outputTokens, record.cacheCreationInputTokens,
                 record.cacheCreation1hTokens, record.cacheReadInputTokens};
    }
    return sums;
}

std::string tokenSumsDifference(const TokenSums& got, const TokenSums& want) {
    if (got == want) {
        return {};
    }
    return "token sums differ (got/expected): input " + std::to_string(got.input) + "/" +
           std::to_string(want.input) + ", output " + std::to_string(got.output) + "/" +
           std::to_string(want.output) + ", cache write " + std::to_string(got.cacheCreation) + "/" +
           std::to_string(want.cacheCreation) + ", cache write 1h " + std::to_string(got.cacheCreation1h) +
           "/" + std::to_string(want.cacheCreation1h) + ", cache read " + std::to_string(got.cacheRead) +
           "/" + std::to_string(want.cacheRead);
}

long statusKilobytes(std::string_view field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':') {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

} // namespace fernhollow::bench
