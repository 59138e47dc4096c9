#pragma once

#include <cstdint>
#include <limits>

namespace fernhollow {

// Token totals of hostile logs may exceed 64 bits; they are pinned at the limit rather than
// wrapped into nonsense (or into undefined behaviour).
inline std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return sum;
}

} // namespace fernhollow
