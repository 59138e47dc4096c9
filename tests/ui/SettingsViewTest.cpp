#include "core/model/PricingFolder.h"
#include "core/sync/SharedUsageFile.h"
#include "platform/system/Keychain.h"
#include "support/OtherMachine.h"
#include "ui/ViewFixture.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QMetaObject>
#include <QRegularExpression>
#include <QTest>

#include <filesystem>

namespace fernhollow {
namespace {

using test::item;
using test::shown;
using test::text;

class FakeFileManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    FakeFileManager() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        registered = bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this,
                                        QDBusConnection::ExportAllSlots) &&
                     bus.registerService(QStringLiteral("org.freedesktop.FileManager1"));
    }
    ~FakeFileManager() override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    }

    bool registered = false;
    QStringList shownItems;

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shownItems += uris; }
};

class SettingsView : public testing::Test {
protected:
    test::ViewFixture fixture;
    std::unique_ptr<QQuickView> view = fixture.settingsView();

    void click(const char* name) { QMetaObject::invokeMethod(item(*view, name), "clicked"); }
    // Types into a field as a person would: focus, select all, type over it.
    void type(const char* field, const QString& typed) {
        view->show();
        view->requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(static_cast<QWindow*>(view.get())));
        auto* input = qobject_cast<QQuickItem*>(item(*view, field));
        input->forceActiveFocus();
        QMetaObject::invokeMethod(input, "selectAll");
        QWindow* window = view.get();
        QTest::keyClick(window, Qt::Key_Backspace);
        for (const char key : typed.toStdString()) {
            QTest::keyClick(window, key);
        }
    }
    bool enabled(const char* name) { return item(*view, name)->property("enabled").toBool(); }
    // Lets a started task finish: the keychain and the bus answer through the event loop.
    static void settle(const std::function<bool()>& done) { EXPECT_TRUE(QTest::qWaitFor(done, 10'000)); }
};

TEST_F(SettingsView, OpensWithTheStoredValuesInEverySection) {
    EXPECT_EQ(view->width(), 480);
    EXPECT_EQ(
        test::texts(*view,
                    {"budgetField", "warnThresholdPercent", "criticalThresholdPercent", "loginItemStatus",
                     "claudeSourceDetail", "openclawSourceDetail", "unpricedLine", "cacheLocation"}),
        QStringList(
            {"200", "70%", "90%", "Off", "28 records \u00B7 " FERNHOLLOW_TEST_DATA_DIR "/panel-projects",
             "Not installed", "\u26A0\uFE0F Currently unpriced (billed as Sonnet): mystery-model-x",
             "History lives at " + QString::fromStdString((fixture.home / "ledger.sqlite3").string()) +
                 ". Rescan if numbers look stale or wrong: every log is read again, and the "
                 "records of logs that are gone stay."}));
    EXPECT_TRUE(QRegularExpression("^Cache size on disk: .+ MB$").match(text(*view, "cacheSize")).hasMatch());
    settle([&] { return text(*view, "openaiSourceDetail") == "Not connected"; });
    test::saveScreenshot(*view, "settings.png");
}

// Which texts are budgets is the settings texts' test, typing one the tray's; here a non-budget.
TEST_F(SettingsView, BudgetFieldCommitsOnlyWholeBudgets) {
    type("budgetField", "0.5");
    EXPECT_EQ(fixture.settings.monthlyBudgetUSD(), 200.0);
    EXPECT_EQ(text(*view, "budgetField"), "0.5");
    click("preset500");
    EXPECT_EQ(fixture.settings.monthlyBudgetUSD(), 500.0);
    EXPECT_EQ(text(*view, "budgetField"), "500");
}

TEST_F(SettingsView, SyncNowNeedsSyncOnAndSaysWhenItFails) {
    EXPECT_FALSE(enabled("syncNowButton"));
    item(*view, "syncToggle")->setProperty("checked", true);
    QMetaObject::invokeMethod(item(*view, "syncToggle"), "toggled");
    EXPECT_TRUE(fixture.settings.syncRemotePricing());
    EXPECT_TRUE(enabled("syncNowButton"));
    // A port nothing listens on.
    qputenv("FERNHOLLOW_LITELLM_BASE_URL", "http://127.0.0.1:9");
    click("syncNowButton");
    settle([&] { return text(*view, "syncStatus") == "Sync failed"; });
    qunsetenv("FERNHOLLOW_LITELLM_BASE_URL");
}

TEST_F(SettingsView, ConnectsAndDisconnectsTheOpenAIKey) {
    settle([&] { return text(*view, "openaiSourceDetail") == "Not connected"; });
    EXPECT_EQ(text(*view, "connectButton"), "Connect");
    EXPECT_FALSE(enabled("connectButton"));
    EXPECT_FALSE(shown(*view, "disconnectButton"));

    type("keyField", "sk-admin-view-test ");
    EXPECT_TRUE(enabled("connectButton"));
    click("connectButton");
    settle([&] { return text(*view, "connectButton") == "Update"; });
    EXPECT_TRUE(shown(*view, "disconnectButton"));
    EXPECT_EQ(text(*view, "openaiSourceDetail"), "0 records kept");
    // Stored exactly as typed, trailing space included.
    EXPECT_EQ(QCoro::waitFor(Keychain::get(QString::fromLatin1(Keychain::openAIAccount))),
              "sk-admin-view-test ");

    click("disconnectButton");
    settle([&] { return text(*view, "openaiSourceDetail") == "Not connected"; });
    EXPECT_EQ(text(*view, "keyField"), "");
    EXPECT_EQ(QCoro::waitFor(Keychain::get(QString::fromLatin1(Keychain::openAIAccount))), std::nullopt);
}

TEST_F(SettingsView, LoginToggleShowsTheRealStateAndFailures) {
    item(*view, "launchAtLoginToggle")->setProperty("checked", true);
    QMetaObject::invokeMethod(item(*view, "launchAtLoginToggle"), "toggled");
    EXPECT_EQ(text(*view, "loginItemStatus"), "On \u2014 launches automatically at login");
    EXPECT_TRUE(std::filesystem::exists(fixture.home / "autostart/fernhollow.desktop"));

    item(*view, "launchAtLoginToggle")->setProperty("checked", false);
    QMetaObject::invokeMethod(item(*view, "launchAtLoginToggle"), "toggled");
    EXPECT_EQ(text(*view, "loginItemStatus"), "Off");
    EXPECT_FALSE(std::filesystem::exists(fixture.home / "autostart/fernhollow.desktop"));

    // A file where the autostart folder should be: the entry cannot be written, even by root.
    std::filesystem::remove_all(fixture.home / "autostart");
    fixture.home.write("autostart", "");
    item(*view, "launchAtLoginToggle")->setProperty("checked", true);
    QMetaObject::invokeMethod(item(*view, "launchAtLoginToggle"), "toggled");
    EXPECT_TRUE(text(*view, "loginItemStatus").startsWith("\u26A0\uFE0F "));
    EXPECT_FALSE(item(*view, "launchAtLoginToggle")->property("checked").toBool());
}

TEST_F(SettingsView, EditOverridesShowsTheExampleInTheFileManager) {
    FakeFileManager fileManager;
    ASSERT_TRUE(fileManager.registered);
    click("editOverridesButton");
    settle([&] { return !fileManager.shownItems.isEmpty(); });
    EXPECT_EQ(
        fileManager.shownItems,
        QStringList{
            QUrl::fromLocalFile(QString::fromStdString(PricingFolder::exampleURL().string())).toString()});
    EXPECT_FALSE(std::filesystem::exists(PricingFolder::overridesURL()));

    click("reloadOverridesButton");
    EXPECT_FALSE(text(*view, "overrideStatus").isEmpty());
}

// A machine whose file left the folder stays counted until the user removes it and confirms.
TEST_F(SettingsView, SharesThroughAFolderAndRemovesAGoneMachineOnlyWhenConfirmed) {
    EXPECT_EQ(text(*view, "sharedFolder"), "Off");
    EXPECT_FALSE(shown(*view, "stopSharingButton"));
    const std::filesystem::path folder = fixture.home / "Sync";
    std::filesystem::create_directories(folder);
    const DeviceIdentity desk{"6F1C2A3B-0000-4000-8000-00000000000B", "desk"};
    const double now = fixture.clock.seconds;
    test::shareAsAnotherMachine(folder, desk, {test::otherMachinesReply("desk-1", now - 3600.0, 100'000)},
                                now - 3 * 86'400.0);
    fixture.settingsModel->setSharedFolder(QString::fromStdString(folder.string()) + " ");
    QCoro::waitFor(fixture.store->refresh());
    EXPECT_EQ(text(*view, "sharedFolder"), QString::fromStdString(folder.string()));
    EXPECT_TRUE(shown(*view, "stopSharingButton"));
    EXPECT_EQ(item(*view, "machineRows")->property("count").toInt(), 2);
    EXPECT_EQ(text(*view, "recordsLoaded"), "29 records kept");
    EXPECT_EQ(text(*view, "machineDetail0"), "This machine \u00B7 $61.38 this month");
    EXPECT_EQ(text(*view, "machineDetail1"), "Last seen 3d ago \u00B7 $1.50 this month");
    EXPECT_FALSE(shown(*view, "removeMachine1"));

    std::filesystem::remove(folder / sharedfile::fileName(desk));
    QCoro::waitFor(fixture.store->refresh());
    EXPECT_EQ(text(*view, "machineDetail1"),
              "File no longer in the folder \u00B7 last seen 3d ago \u00B7 $1.50 this month");
    ASSERT_TRUE(shown(*view, "removeMachine1"));
    click("removeMachine1");
    QObject* dialog = item(*view, "removeMachineDialog");
    EXPECT_TRUE(dialog->property("visible").toBool());
    EXPECT_EQ(dialog->property("title").toString(), "Remove \u201Cdesk\u201D?");
    QMetaObject::invokeMethod(dialog, "reject");
    EXPECT_EQ(fixture.store->machines().size(), 2U);

    click("removeMachine1");
    click("confirmRemoveMachine");
    EXPECT_EQ(item(*view, "machineRows")->property("count").toInt(), 1);
    EXPECT_EQ(text(*view, "recordsLoaded"), "28 records kept");

    click("stopSharingButton");
    EXPECT_EQ(fixture.settings.sharedFolder(), "");
    EXPECT_EQ(text(*view, "sharedFolder"), "Off");
    EXPECT_EQ(item(*view, "machineRows")->property("count").toInt(), 0);
}

} // namespace
} // namespace fernhollow

#include "SettingsViewTest.moc"
