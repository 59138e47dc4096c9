#include "cli/LedgerReportCommand.h"
#include "cli/ReportCommand.h"
#include "cli/StatusLineCommand.h"
#include "ui/FernhollowApp.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

namespace {

bool hasGraphicalSession() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// Runs a command that passes over the logs on a Qt event loop of its own.
int runOnEventLoop(int argc, char** argv,
                   const std::function<QCoro::Task<int>(QNetworkAccessManager&)>& command) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Fernhollow"));
    QNetworkAccessManager network;
    QTimer::singleShot(0, &app, [&] {
        QCoro::connect(command(network), &app, [](int code) { QCoreApplication::exit(code); });
    });
    return QCoreApplication::exec();
}

int runReport(int argc, char** argv, std::span<const std::string> args) {
    return runOnEventLoop(argc, argv, [args](QNetworkAccessManager& network) {
        return fernhollow::runReportCommand(args, std::cout, std::cerr, network);
    });
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        if (hasGraphicalSession()) {
            return fernhollow::FernhollowApp::run(argc, argv);
        }
        std::cerr
            << "fernhollow: no graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set), so here is "
               "the report instead.\n";
        return runReport(argc, argv, {});
    }
    const std::span<const std::string> options = std::span(args).subspan(1);
    if (args[0] == "report") {
        return runReport(argc, argv, options);
    }
    if (args[0] == "statusline") {
        // Claude Code runs it on every message: no event loop, no network, no log scan.
        return fernhollow::runStatusLineCommand(options, std::cin, std::cout, std::cerr);
    }
    if (const auto kind = fernhollow::reportKindOf(args[0])) {
        return runOnEventLoop(argc, argv, [&](QNetworkAccessManager& network) {
            return fernhollow::runLedgerReportCommand(*kind, args[0], options, std::cout, std::cerr, network);
        });
    }
    std::cerr << "usage: fernhollow [report | daily | weekly | monthly | session | blocks | statusline] "
                 "[options] (COMMAND --help lists its options)\n";
    return 2;
}
