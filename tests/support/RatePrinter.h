#pragma once

#include "core/model/ModelPricing.h"

#include <ostream>

namespace fernhollow::ModelPricing {

// Lets GoogleTest show a rate's five prices in a failure message.
inline void PrintTo(const Rate& r, std::ostream* os) {
    *os << "{" << r.input << ", " << r.output << ", " << r.cacheWrite << ", " << r.cacheWrite1h << ", "
        << r.cacheRead << "}";
}

} // namespace fernhollow::ModelPricing
