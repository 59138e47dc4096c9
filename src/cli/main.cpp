#include "cli/ReportCommand.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QTimer>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] != "report") {
        std::cerr
            << "usage: fernhollow report [--json] [--claude-dir DIR] [--openclaw-dir DIR] [--no-openai]\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Fernhollow"));
    QNetworkAccessManager network;
    QTimer::singleShot(0, &app, [&] {
        QCoro::connect(
            fernhollow::runReportCommand(std::span(args).subspan(1), std::cout, std::cerr, network), &app,
            [](int code) { QCoreApplication::exit(code); });
    });
    return QCoreApplication::exec();
}
