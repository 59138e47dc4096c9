#include "ui/FernhollowApp.h"

#include "platform/system/QtLocalCalendar.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "platform/store/UsageStore.h"
#include "ui/LoginItem.h"
#include "ui/PanelModel.h"
#include "ui/PanelWindow.h"
#include "ui/SettingsModel.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TrayIcon.h"
#include "ui/UpdateDialogs.h"
#include "ui/Updater.h"
#include "ui/Views.h"
#include "ui/WelcomePrompt.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QPalette>
#include <QQuickStyle>
#include <QTimer>

namespace fernhollow::FernhollowApp {

int run(int argc, char** argv) {
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
    JsonPreferencesFile preferences(JsonPreferencesFile::defaultPath());
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
    SettingsModel settingsModel(settings, store, loginItem, network);
    PanelWindow panel(*engine, panelModel);
    SettingsWindow settingsWindow(*engine, settingsModel);
    TrayIcon tray(store);

    QObject::connect(&tray, &TrayIcon::clicked, &panel, [&] { panel.toggle(tray.geometry()); });
    QObject::connect(&instance, &SingleInstance::showRequested, &panel, [&] { panel.show(tray.geometry()); });
    QObject::connect(&panelModel, &PanelModel::settingsRequested, &settingsWindow, [&] {
        panel.hide();
        settingsWindow.open();
    });
    tray.show();

    WelcomePrompt::maybeShow(preferences, loginItem);
    return QApplication::exec();
}

} // namespace fernhollow::FernhollowApp
