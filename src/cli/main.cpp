#include "cli/ReportCommand.h"
#include "ui/FernhollowApp.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include <cstdlib>
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

int runReport(int argc, char** argv, std::span<const std::string> args) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Fernhollow"));
    QNetworkAccessManager network;
    QTimer::singleShot(0, &app, [&] {
        QCoro::connect(fernhollow::runReportCommand(args, std::cout, std::cerr, network), &app,
                       [](int code) { QCoreApplication::exit(code); });
    });
    return QCoreApplication::exec();
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
    if (args[0] != "report") {
        std::cerr
            << "usage: fernhollow [report [--json] [--claude-dir DIR] [--openclaw-dir DIR] [--no-openai]]\n";
        return 2;
    }
    return runReport(argc, argv, std::span(args).subspan(1));
}
