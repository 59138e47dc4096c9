#include "ui/FernhollowApp.h"

#include "core/common/Folders.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "platform/store/UsageStore.h"
#include "platform/system/QtLocalCalendar.h"
#include "ui/LoginItem.h"
#include "ui/NoTrayNotice.h"
#include "ui/PanelModel.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TrayHost.h"
#include "ui/TrayIcon.h"
#include "ui/UpdateDialogs.h"
#include "ui/Updater.h"
#include "ui/Views.h"
#include "ui/WelcomePrompt.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QPalette>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTimer>

#include <chrono>
#include <memory>

namespace fernhollow::FernhollowApp {

int run(int argc, char** argv) {
    // The panel and the settings are rectangles and text. A GL driver loaded to draw them would
    // stay resident all day in an app that is hidden most of it (some 60 MB with Mesa), so Qt
    // Quick draws in software unless the user picked a backend.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fernhollow"));
    QApplication::setApplicationVersion(QStringLiteral(FERNHOLLOW_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("fernhollow"));
    // A tray app: closing the settings window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    SingleInstance instance;
    if (instance.askRunningInstanceToShow()) {
        return 0;
    }
    instance.listen();

    // The order matters: the settings first, then the store over them (it loads the cache and
    // starts refreshing), then the updater, then the views.
    JsonPreferencesFile preferences(Folders::preferencesFile());
    AppSettings settings(preferences);
    QNetworkAccessManager network;
    QtLocalCalendar calendar;
    UsageStore store(settings, network, calendar, UsageStore::Options{});
    Updater updater(network, Updater::buildFeedUrl(), QApplication::applicationVersion());
    showUpdateResults(updater);
    LoginItem loginItem = LoginItem::forThisUser();

    const auto engine = Views::createEngine();
    PanelModel panelModel(store, settings, updater, Clock::system(), calendar,
                          QApplication::palette().color(QPalette::WindowText));
    SettingsModel settingsModel(settings, store, loginItem, network, Clock::system());
    PanelWindow panel(*engine, panelModel);
    SettingsWindow settingsWindow(*engine, settingsModel);
    // Made only once a tray is known to be there: Qt picks its tray at the first icon.
    std::unique_ptr<TrayIcon> tray;

    QObject::connect(&instance, &SingleInstance::showRequested, &panel,
                     [&] { panel.show(tray ? tray->geometry() : QRect()); });
    QObject::connect(&panelModel, &PanelModel::settingsRequested, &settingsWindow, [&] {
        // Without a tray the panel is the app's window, and stays.
        if (tray) {
            panel.hide();
        }
        settingsWindow.open();
    });
    TrayHost trayHost(std::chrono::seconds(2));
    QObject::connect(&trayHost, &TrayHost::decided, &panel, [&](bool found) {
        if (found) {
            tray = std::make_unique<TrayIcon>(store);
            QObject::connect(tray.get(), &TrayIcon::clicked, &panel, [&] { panel.toggle(tray->geometry()); });
            tray->show();
        } else {
            panel.becomeWindow();
            panel.show(QRect());
            NoTrayNotice::maybeShow(preferences);
        }
    });
    trayHost.find();

    WelcomePrompt::maybeShow(preferences, loginItem);
    return QApplication::exec();
}

} // namespace fernhollow::FernhollowApp
