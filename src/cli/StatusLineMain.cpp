#include "cli/StatusLineCommand.h"

#include <iostream>
#include <string>
#include <vector>

// Claude Code starts its status line command on every message: this program is that command
// alone, linked to no more libraries than it uses, so that it starts in a few milliseconds.
int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return fernhollow::runStatusLineCommand(args, std::cin, std::cout, std::cerr);
}
