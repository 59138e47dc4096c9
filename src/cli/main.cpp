#include "cli/ReportCommand.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "report") {
        return fernhollow::runReportCommand(std::span(args).subspan(1), std::cout, std::cerr);
    }
    std::cerr << "usage: fernhollow report [--json] [--claude-dir DIR]\n";
    return 2;
}
