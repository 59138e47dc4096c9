#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace fernhollow {

// `fernhollow report [--json] [--claude-dir DIR]`: scans the logs and prints what they cost.
// Returns the process exit code: 0, or 2 for arguments it cannot use.
int runReportCommand(std::span<const std::string> args, std::ostream& out, std::ostream& err);

} // namespace fernhollow
