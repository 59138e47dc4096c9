#include "support/OtherMachine.h"
#include "ui/ViewFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>

#include <tuple>

namespace fernhollow {
namespace {

using test::item;
using test::shown;
using test::text;

class PanelView : public testing::Test {
protected:
    test::ViewFixture fixture;
    std::unique_ptr<QQuickView> view = fixture.panelView();

    int repeated(const char* repeater) { return item(*view, repeater)->property("count").toInt(); }
    void setBudget(double usd) {
        fixture.settings.setMonthlyBudgetUSD(usd);
        fixture.store->recomputeStatus();
    }
};

TEST_F(PanelView, ShowsTheFixtureFiguresInEverySection) {
    // The test program has no version of its own: v0.4.0 is the build's.
    EXPECT_EQ(
        test::texts(*view, {"todayCellValue", "todayCellSub", "weekCellValue", "monthCellValue",
                            "last30CellValue", "recordsCellValue", "refreshedCellValue", "budgetLine",
                            "unpricedHeadline", "unpricedNames", "liveCount", "sparklineMax", "versionText"}),
        QStringList({"$12.27", "+178% vs 7d avg", "$32.28", "$61.38", "$61.38", "28", "0s ago",
                     "$61.38 / $200  (31%)", "1 unpriced model \u2014 billed as Sonnet", "mystery-model-x",
                     "6 active", "max $14.58", "v0.4.0"}));
    EXPECT_FALSE(shown(*view, "modeText"));
    EXPECT_FALSE(shown(*view, "adviceCard"));
    EXPECT_FALSE(shown(*view, "noLiveSessions"));
    EXPECT_EQ(std::tuple(repeated("liveRows"), repeated("modelRows"), repeated("projectRows")),
              std::tuple(4, 4, 5));
    // No update feed in this build of the test: the button waits for one.
    EXPECT_FALSE(item(*view, "checkForUpdatesButton")->property("enabled").toBool());
    // The bars' heights are the panel texts' test; here the fourteen days end today.
    const QVariantList bars = fixture.panelModel->sparklineBars();
    ASSERT_EQ(bars.size(), 14);
    EXPECT_TRUE(bars.back().toMap().value("isToday").toBool());
    EXPECT_EQ(bars.back().toMap().value("tooltip").toString(), "Mar 18, 2026 \u2014 $12.27");
    test::saveScreenshot(*view, "panel.png");

    // The age moves on with the clock while the panel shows, and the header names ccusage mode.
    fixture.clock.seconds += 60;
    fixture.panelModel->setShown(true);
    EXPECT_EQ(text(*view, "refreshedCellValue"), "1m ago");
    fixture.panelModel->setShown(false);
    fixture.settings.setPricingMode(PricingMode::ccusageCompatible);
    EXPECT_EQ(text(*view, "modeText"), "(ccusage mode)");
    EXPECT_TRUE(shown(*view, "modeText"));
}

TEST_F(PanelView, AnOverspentBudgetFillsTheBarAndShowsTheCard) {
    setBudget(5);
    EXPECT_EQ(text(*view, "budgetLine"), "$61.38 / $5  (100%)");
    QObject* bar = item(*view, "budgetBar");
    EXPECT_EQ(item(*view, "budgetBarFill")->property("width").toDouble(), bar->property("width").toDouble());
    EXPECT_EQ(item(*view, "budgetBarFill")->property("color").value<QColor>(), QColor(0xff, 0x3b, 0x30));
    EXPECT_TRUE(shown(*view, "adviceCard"));
    EXPECT_EQ(text(*view, "adviceTitle"), "BLOWN \u2014 $56.38 over budget");
    EXPECT_EQ(text(*view, "adviceCommand"), "claude --model claude-haiku-4-5");

    QMetaObject::invokeMethod(item(*view, "copyCommandButton"), "clicked");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "claude --model claude-haiku-4-5");

    setBudget(200);
    EXPECT_FALSE(shown(*view, "adviceCard"));
}

// Sharing shows once the settings name a folder; the switch takes the figures back to this machine.
TEST_F(PanelView, SharingCountsEveryMachineUntilTheSwitchSaysThisOne) {
    EXPECT_FALSE(shown(*view, "machineScope"));
    EXPECT_FALSE(shown(*view, "machinesSection"));
    const std::filesystem::path folder = fixture.home / "Sync";
    std::filesystem::create_directories(folder);
    const double anHourAgo = fixture.clock.seconds - 3600.0;
    test::shareAsAnotherMachine(folder, {"6F1C2A3B-0000-4000-8000-00000000000B", "desk"},
                                {test::otherMachinesReply("desk-1", anHourAgo, 100'000)}, anHourAgo);
    fixture.settings.setSharedFolder(QString::fromStdString(folder.string()));
    QCoro::waitFor(fixture.store->refresh());

    EXPECT_TRUE(shown(*view, "machineScope"));
    EXPECT_EQ(text(*view, "monthCellValue"), "$62.88");
    EXPECT_EQ(text(*view, "recordsCellValue"), "29");
    ASSERT_EQ(repeated("machineRows"), 2);
    EXPECT_EQ(fixture.panelModel->machineRows()[0].toMap().value("seen"), "this machine");
    EXPECT_EQ(fixture.panelModel->machineRows()[1].toMap(),
              (QVariantMap{{"name", "desk"}, {"seen", "1h ago"}, {"usd", "$1.50"}}));
    EXPECT_TRUE(item(*view, "allMachinesButton")->property("checked").toBool());

    // The budget's status follows the switch too, not only the figures.
    setBudget(62);
    EXPECT_EQ(text(*view, "adviceTitle"), "BLOWN \u2014 $0.88 over budget");
    QMetaObject::invokeMethod(item(*view, "thisMachineButton"), "clicked");
    EXPECT_FALSE(fixture.settings.showAllMachines());
    EXPECT_TRUE(item(*view, "thisMachineButton")->property("checked").toBool());
    EXPECT_EQ(text(*view, "monthCellValue"), "$61.38");
    EXPECT_EQ(text(*view, "adviceTitle"), "Critical \u2014 98% of monthly budget");
}

} // namespace
} // namespace fernhollow
