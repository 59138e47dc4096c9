#pragma once

#include <cstdio>
#include <cstdlib>

namespace fernhollow::fuzz {

// A broken property ends the run as a sanitizer report does, so libFuzzer keeps the input
// and a replay fails.
inline void require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "broken property: %s\n", property);
        std::abort();
    }
}

} // namespace fernhollow::fuzz
