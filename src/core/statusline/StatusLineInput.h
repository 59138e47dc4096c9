#pragma once

#include "core/model/RateLimit.h"

#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

// What Claude Code pipes to its status line command, as far as it says it: any field may be
// missing, and text that is not one JSON object says nothing.
struct StatusLineInput {
    std::string sessionId;
    std::string transcriptPath;
    std::string model;                 // the display name, else the id; without control characters
    std::vector<RateLimit> rateLimits; // the plan's 5-hour and 7-day windows, read at `now`
};

StatusLineInput parseStatusLineInput(std::string_view json, double now);

} // namespace fernhollow
