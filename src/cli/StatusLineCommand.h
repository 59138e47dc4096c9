#pragma once

#include "core/model/Clock.h"

#include <iosfwd>
#include <span>
#include <string>

namespace fernhollow {

// `fernhollow statusline`: Claude Code's status line, from the JSON it pipes in, the ledger and
// the newest lines of the session's transcript; it never scans the logs and never fails.
// `--install` and `--uninstall` set and take out that command in Claude Code's settings.
// Gives the process exit code.
int runStatusLineCommand(std::span<const std::string> args, std::istream& in, std::ostream& out,
                         std::ostream& err, const Clock& clock = Clock::system());

} // namespace fernhollow
