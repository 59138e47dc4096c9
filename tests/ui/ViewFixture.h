#pragma once

#include "core/model/IsoDate.h"
#include "platform/settings/AppSettings.h"
#include "platform/store/UsageStore.h"
#include "platform/system/QtLocalCalendar.h"
#include "support/ManualClock.h"
#include "support/MemoryPreferences.h"
#include "support/QtPrinters.h"
#include "support/TempTree.h"
#include "ui/LoginItem.h"
#include "ui/PanelModel.h"
#include "ui/SettingsModel.h"
#include "ui/Updater.h"
#include "ui/Views.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkAccessManager>
#include <QQuickItem>
#include <QQuickView>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace fernhollow::test {

// A store over the panel fixture logs at 2026-03-18 15:00 UTC, and the views as the app wires them.
struct ViewFixture {
    ViewFixture() {
        UsageStore::Options options;
        options.ledgerPath = home / "ledger.sqlite3";
        options.claudeProjectsRoots = {FERNHOLLOW_TEST_DATA_DIR "/panel-projects"};
        options.openClawStateFolder = home / "openclaw";
        options.interactive = false;
        options.fetchOpenAI = false;
        store = std::make_unique<UsageStore>(settings, network, calendar, options, clock);
        QCoro::waitFor(store->refresh());
        panelModel =
            std::make_unique<PanelModel>(*store, settings, updater, clock, calendar, QColor(Qt::black));
        settingsModel = std::make_unique<SettingsModel>(settings, *store, loginItem, network, clock);
    }

    std::unique_ptr<QQuickView> panelView() {
        return Views::createView(
            *engine, QStringLiteral("MenuBarView"),
            {{QStringLiteral("panel"), QVariant::fromValue<QObject*>(panelModel.get())}});
    }
    std::unique_ptr<QQuickView> settingsView() {
        settingsModel->appear();
        return Views::createView(
            *engine, QStringLiteral("SettingsView"),
            {{QStringLiteral("model"), QVariant::fromValue<QObject*>(settingsModel.get())}});
    }

    TempTree home;
    MemoryPreferences preferences;
    ManualClock clock{*isodate::parseInternetDateTime("2026-03-18T15:00:00Z")};
    AppSettings settings{preferences, clock, QTimeZone::utc()};
    QtLocalCalendar calendar{QTimeZone::utc(), QLocale(QLocale::English, QLocale::UnitedStates)};
    QNetworkAccessManager network;
    std::unique_ptr<UsageStore> store;
    Updater updater{network, QUrl(), QStringLiteral("0.1.0")};
    LoginItem loginItem{QString::fromStdString((home / "autostart/fernhollow.desktop").string()),
                        QCoreApplication::applicationFilePath()};
    std::unique_ptr<QQmlEngine> engine = Views::createEngine();
    std::unique_ptr<PanelModel> panelModel;
    std::unique_ptr<SettingsModel> settingsModel;
};

// A Repeater's rows are children of its parent in the tree of items alone.
inline QObject* visualChild(QQuickItem* parent, const QString& name) {
    for (QQuickItem* child : parent->childItems()) {
        QObject* found = child->objectName() == name ? child : visualChild(child, name);
        if (found != nullptr) {
            return found;
        }
    }
    return nullptr;
}

inline QObject* item(QQuickView& view, const char* name) {
    QObject* found = view.rootObject()->findChild<QObject*>(QString::fromLatin1(name));
    if (found == nullptr) {
        found = visualChild(view.rootObject(), QString::fromLatin1(name));
    }
    EXPECT_NE(found, nullptr) << name;
    return found;
}

inline QString text(QQuickView& view, const char* name) {
    return item(view, name)->property("text").toString();
}

inline QStringList texts(QQuickView& view, std::initializer_list<const char*> names) {
    QStringList found;
    for (const char* name : names) {
        found << text(view, name);
    }
    return found;
}

inline bool shown(QQuickView& view, const char* name) {
    return item(view, name)->property("visible").toBool();
}

// Renders the view and keeps the picture in the build folder for a person to look at.
inline void saveScreenshot(QQuickView& view, const char* file) {
    view.show();
    const QImage image = view.grabWindow();
    EXPECT_FALSE(image.isNull());
    QDir().mkpath(QStringLiteral(FERNHOLLOW_SCREENSHOT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(FERNHOLLOW_SCREENSHOT_DIR "/%1").arg(QString::fromLatin1(file))));
}

} // namespace fernhollow::test
