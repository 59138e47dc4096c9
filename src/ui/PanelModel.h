#pragma once

#include "core/figures/LocalCalendar.h"
#include "core/model/Clock.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

namespace fernhollow {

class AppSettings;
class Updater;
class UsageStore;

// What the panel shows, as texts and proportions ready for the view: every figure is read
// from the store's snapshot, the settings and the updater, and the whole model announces one
// change whenever any of them does. The ages ("45s ago") move on by themselves while the panel
// is shown.
class PanelModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString modeText READ modeText NOTIFY changed)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY changed)
    Q_PROPERTY(double scanProgress READ scanProgress NOTIFY changed)
    Q_PROPERTY(QString todayText READ todayText NOTIFY changed)
    Q_PROPERTY(QString todayDeltaText READ todayDeltaText NOTIFY changed)
    Q_PROPERTY(QString weekText READ weekText NOTIFY changed)
    Q_PROPERTY(QString monthText READ monthText NOTIFY changed)
    Q_PROPERTY(QString last30Text READ last30Text NOTIFY changed)
    Q_PROPERTY(QString recordsText READ recordsText NOTIFY changed)
    Q_PROPERTY(QString refreshedText READ refreshedText NOTIFY changed)
    Q_PROPERTY(QString budgetLineText READ budgetLineText NOTIFY changed)
    Q_PROPERTY(QStringList planWindowLines READ planWindowLines NOTIFY changed)
    Q_PROPERTY(double budgetFraction READ budgetFraction NOTIFY changed)
    Q_PROPERTY(QColor barColor READ barColor NOTIFY changed)
    Q_PROPERTY(bool adviceVisible READ adviceVisible NOTIFY changed)
    Q_PROPERTY(QString adviceIcon READ adviceIcon NOTIFY changed)
    Q_PROPERTY(QString adviceTitle READ adviceTitle NOTIFY changed)
    Q_PROPERTY(QString adviceBody READ adviceBody NOTIFY changed)
    Q_PROPERTY(QString adviceCommand READ adviceCommand NOTIFY changed)
    Q_PROPERTY(QColor adviceColor READ adviceColor NOTIFY changed)
    Q_PROPERTY(bool unpricedVisible READ unpricedVisible NOTIFY changed)
    Q_PROPERTY(QString unpricedHeadline READ unpricedHeadline NOTIFY changed)
    Q_PROPERTY(QString unpricedNames READ unpricedNames NOTIFY changed)
    Q_PROPERTY(QString sparklineMaxText READ sparklineMaxText NOTIFY changed)
    Q_PROPERTY(QVariantList sparklineBars READ sparklineBars NOTIFY changed)
    Q_PROPERTY(int liveCount READ liveCount NOTIFY changed)
    Q_PROPERTY(QString liveCountText READ liveCountText NOTIFY changed)
    Q_PROPERTY(QVariantList liveSessions READ liveSessions NOTIFY changed)
    Q_PROPERTY(QVariantList modelRows READ modelRows NOTIFY changed)
    Q_PROPERTY(QVariantList projectRows READ projectRows NOTIFY changed)
    Q_PROPERTY(bool sharing READ sharing NOTIFY changed)
    Q_PROPERTY(bool showAllMachines READ showAllMachines WRITE setShowAllMachines NOTIFY changed)
    Q_PROPERTY(QVariantList machineRows READ machineRows NOTIFY changed)
    Q_PROPERTY(QString versionText READ versionText CONSTANT)
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY changed)

public:
    static constexpr double sparklineHeight = 36.0;
    static constexpr int listedSessions = 4;
    static constexpr int listedRows = 5;

    // Everything given must outlive the model. `primaryText` is the panel's text colour, the
    // tint of the "ok" symbol.
    PanelModel(UsageStore& store, AppSettings& settings, Updater& updater, const Clock& clock,
               const LocalCalendar& calendar, QColor primaryText, QObject* parent = nullptr);

    QString modeText() const;
    bool isRefreshing() const;
    double scanProgress() const;
    QString todayText() const;
    QString todayDeltaText() const;
    QString weekText() const;
    QString monthText() const;
    QString last30Text() const;
    QString recordsText() const;
    QString refreshedText() const;
    QString budgetLineText() const;
    // The plan windows: each agent's own reading that still holds, else the 5-hour estimate.
    QStringList planWindowLines() const { return planWindowLines_; }
    double budgetFraction() const;
    QColor barColor() const;
    bool adviceVisible() const;
    QString adviceIcon() const;
    QString adviceTitle() const;
    QString adviceBody() const;
    QString adviceCommand() const;
    QColor adviceColor() const;
    bool unpricedVisible() const;
    QString unpricedHeadline() const;
    QString unpricedNames() const;
    QString sparklineMaxText() const;
    QVariantList sparklineBars() const;
    int liveCount() const;
    QString liveCountText() const;
    QVariantList liveSessions() const;
    QVariantList modelRows() const;
    QVariantList projectRows() const;
    // Whether the machines share through a folder: the figures may then count them all.
    bool sharing() const;
    bool showAllMachines() const;
    void setShowAllMachines(bool all);
    // Every machine sharing, this one first: its name, when it was last seen, this month's spend.
    QVariantList machineRows() const;
    QString versionText() const;
    bool canCheckForUpdates() const;

    // While shown, the ages are redrawn every second; hidden, nothing ticks.
    void setShown(bool shown);

    Q_INVOKABLE void refresh();
    Q_INVOKABLE void copyAdviceCommand();
    Q_INVOKABLE void checkForUpdates();
    Q_INVOKABLE void openSettings();
    Q_INVOKABLE void quit();

signals:
    void changed();
    void settingsRequested();

private:
    UsageStore& store_;
    AppSettings& settings_;
    Updater& updater_;
    const Clock& clock_;
    const LocalCalendar& calendar_;
    void updatePlanWindows();

    QColor primaryText_;
    QTimer ageTimer_;
    QStringList planWindowLines_;
};

} // namespace fernhollow
