#include "core/ledger/RecordIdentity.h"

#include <bit>
#include <cmath>

namespace fernhollow {
namespace {

constexpr std::uint64_t fnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t fnvPrime = 1099511628211ULL;

class Hasher {
public:
    Hasher& add(std::string_view bytes) {
        for (const char c : bytes) {
            state_ = (state_ ^ static_cast<unsigned char>(c)) * fnvPrime;
        }
        // The length ends each field, so "ab"+"c" and "a"+"bc" differ.
        return add(static_cast<std::int64_t>(bytes.size()));
    }
    Hasher& add(std::int64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            state_ = (state_ ^ ((static_cast<std::uint64_t>(value) >> shift) & 0xff)) * fnvPrime;
        }
        return *this;
    }
    // FNV alone spreads its last bytes poorly; a final mix makes every bit count.
    std::uint64_t finish() const {
        std::uint64_t h = state_;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ULL;
        h ^= h >> 33;
        return h;
    }

private:
    std::uint64_t state_ = fnvOffset;
};

} // namespace

std::int64_t recordIdentity(UsageSource source, const UsageRecord& record) {
    Hasher hasher;
    hasher.add(static_cast<std::int64_t>(source));
    if (!record.messageId.empty()) {
        hasher.add("message").add(record.messageId);
    } else {
        const double seconds = std::floor(record.timestamp);
        hasher.add("content")
            .add(record.projectPath.str())
            .add(record.sessionId.str())
            .add(record.model.str())
            .add(seconds > -9e18 && seconds < 9e18 ? static_cast<std::int64_t>(seconds) : 0)
            .add(record.inputTokens)
            .add(record.outputTokens)
            .add(record.cacheCreationInputTokens)
            .add(record.cacheCreation1hTokens)
            .add(record.cacheReadInputTokens);
    }
    return std::bit_cast<std::int64_t>(hasher.finish());
}

std::uint64_t bytesHash(std::string_view bytes) {
    std::uint64_t state = fnvOffset;
    for (const char c : bytes) {
        state = (state ^ static_cast<unsigned char>(c)) * fnvPrime;
    }
    return state;
}

} // namespace fernhollow
