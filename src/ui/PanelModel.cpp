#include "ui/PanelModel.h"

#include "core/figures/PlanWindows.h"
#include "core/texts/PanelTexts.h"
#include "platform/settings/AppSettings.h"
#include "platform/store/UsageStore.h"
#include "ui/Tints.h"
#include "ui/Updater.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>
#include <QVariantMap>

#include <algorithm>

namespace fernhollow {
namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString dollars(double usd) {
    return text(PanelTexts::dollars(usd));
}

const UsageAggregates::UsageSnapshot& figures(const UsageStore& store) {
    return store.snapshot();
}

} // namespace

PanelModel::PanelModel(UsageStore& store, AppSettings& settings, Updater& updater, const Clock& clock,
                       const LocalCalendar& calendar, QColor primaryText, QObject* parent)
    : QObject(parent), store_(store), settings_(settings), updater_(updater), clock_(clock),
      calendar_(calendar), primaryText_(primaryText) {
    for (const auto signal :
         {&UsageStore::recordsChanged, &UsageStore::isRefreshingChanged, &UsageStore::statusChanged,
          &UsageStore::lastRefreshChanged, &UsageStore::scanProgressChanged}) {
        connect(&store_, signal, this, &PanelModel::changed);
    }
    connect(&settings_, &AppSettings::monthlyBudgetUSDChanged, this, &PanelModel::changed);
    connect(&settings_, &AppSettings::pricingModeChanged, this, &PanelModel::changed);
    connect(&settings_, &AppSettings::showAllMachinesChanged, this, &PanelModel::changed);
    connect(&updater_, &Updater::canCheckForUpdatesChanged, this, &PanelModel::changed);
    ageTimer_.setInterval(1000);
    connect(&ageTimer_, &QTimer::timeout, this, &PanelModel::changed);
    // The window's time left moves with the clock, its readings with each pass.
    connect(&store_, &UsageStore::recordsChanged, this, &PanelModel::updatePlanWindows);
    connect(&ageTimer_, &QTimer::timeout, this, &PanelModel::updatePlanWindows);
    updatePlanWindows();
}

void PanelModel::updatePlanWindows() {
    QStringList lines;
    if (Ledger* ledger = store_.ledger()) {
        try {
            const auto localTime = [](double t, bool weekly) {
                const QDateTime moment = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t));
                return QLocale()
                    .toString(moment, weekly ? QStringLiteral("ddd HH:mm") : QStringLiteral("HH:mm"))
                    .toStdString();
            };
            for (const std::string& line : PlanWindows::lines(*ledger, clock_.now(), localTime)) {
                lines << text(line);
            }
        } catch (const sqlite::Error&) {
            // The store tells of a ledger it cannot read; the panel shows what it has.
        }
    }
    if (lines != planWindowLines_) {
        planWindowLines_ = lines;
        emit changed();
    }
}

QString PanelModel::modeText() const {
    return settings_.pricingMode() == PricingMode::ccusageCompatible ? QStringLiteral("(ccusage mode)")
                                                                     : QString();
}

bool PanelModel::isRefreshing() const {
    return store_.isRefreshing();
}

double PanelModel::scanProgress() const {
    const int total = store_.scanFilesToRead();
    return total > 0 ? std::min(1.0, static_cast<double>(store_.scanFilesRead()) / total) : -1.0;
}

QString PanelModel::todayText() const {
    return dollars(figures(store_).todayUSD);
}
QString PanelModel::todayDeltaText() const {
    return text(PanelTexts::todayDelta(figures(store_).todayUSD, figures(store_).avg7dPriorDaily));
}
QString PanelModel::weekText() const {
    return dollars(figures(store_).weekUSD);
}
QString PanelModel::monthText() const {
    return dollars(figures(store_).monthUSD);
}
QString PanelModel::last30Text() const {
    return dollars(figures(store_).last30DaysUSD);
}
QString PanelModel::recordsText() const {
    return QLocale().toString(static_cast<qlonglong>(store_.recordCount()));
}
QString PanelModel::refreshedText() const {
    return text(PanelTexts::refreshedAgo(store_.lastRefresh(), clock_.now()));
}

QString PanelModel::budgetLineText() const {
    return text(PanelTexts::budgetLine(figures(store_).monthUSD, settings_.monthlyBudgetUSD()));
}
double PanelModel::budgetFraction() const {
    return PanelTexts::budgetBarFraction(figures(store_).monthUSD, settings_.monthlyBudgetUSD());
}
QColor PanelModel::barColor() const {
    return tintColor(PanelTexts::barTint(store_.status()), primaryText_);
}

namespace {
std::optional<PanelTexts::KillswitchAdvice> advice(const UsageStore& store, const AppSettings& settings) {
    return PanelTexts::killswitchAdvice(store.status(), store.snapshot().monthUSD,
                                        settings.monthlyBudgetUSD());
}
} // namespace

bool PanelModel::adviceVisible() const {
    return advice(store_, settings_).has_value();
}
QString PanelModel::adviceIcon() const {
    const auto card = advice(store_, settings_);
    return card ? text(card->icon) : QString();
}
QString PanelModel::adviceTitle() const {
    const auto card = advice(store_, settings_);
    return card ? text(card->title) : QString();
}
QString PanelModel::adviceBody() const {
    const auto card = advice(store_, settings_);
    return card ? text(card->body) : QString();
}
QString PanelModel::adviceCommand() const {
    const auto card = advice(store_, settings_);
    return card && card->command ? text(*card->command) : QString();
}
QColor PanelModel::adviceColor() const {
    const auto card = advice(store_, settings_);
    return card ? tintColor(card->color, primaryText_) : primaryText_;
}

bool PanelModel::unpricedVisible() const {
    return !figures(store_).unpricedModels.empty();
}
QString PanelModel::unpricedHeadline() const {
    return text(PanelTexts::unpricedHeadline(figures(store_).unpricedModels.size()));
}
QString PanelModel::unpricedNames() const {
    return text(PanelTexts::unpricedNames(figures(store_).unpricedModels));
}

namespace {
std::vector<double> dailyDollars(const UsageAggregates::UsageSnapshot& snapshot) {
    std::vector<double> usd;
    for (const auto& day : snapshot.dailySeries) {
        usd.push_back(day.usd);
    }
    return usd;
}
} // namespace

QString PanelModel::sparklineMaxText() const {
    return "max " + dollars(PanelTexts::sparklineMax(dailyDollars(figures(store_))));
}

QVariantList PanelModel::sparklineBars() const {
    const auto& series = figures(store_).dailySeries;
    const double max = PanelTexts::sparklineMax(dailyDollars(figures(store_)));
    const std::optional<double> todayStart = calendar_.startOfDay(clock_.now());
    QVariantList bars;
    for (const auto& day : series) {
        const QDate date = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(day.date)).date();
        bars.append(QVariantMap{
            {QStringLiteral("height"), PanelTexts::sparklineBarHeight(day.usd, max, sparklineHeight)},
            {QStringLiteral("isToday"), todayStart.has_value() && day.date >= *todayStart},
            {QStringLiteral("tooltip"), QLocale().toString(date, QStringLiteral("MMM d, yyyy")) +
                                            QStringLiteral(" \u2014 ") + dollars(day.usd)},
        });
    }
    return bars;
}

int PanelModel::liveCount() const {
    return static_cast<int>(figures(store_).liveSessions.size());
}
QString PanelModel::liveCountText() const {
    return QString::number(liveCount()) + QStringLiteral(" active");
}

QVariantList PanelModel::liveSessions() const {
    QVariantList rows;
    const double now = clock_.now();
    for (const auto& session : figures(store_).liveSessions) {
        if (rows.size() == listedSessions) {
            break;
        }
        rows.append(QVariantMap{
            {QStringLiteral("project"), text(session.projectShortName)},
            {QStringLiteral("model"), text(std::string(session.model))},
            {QStringLiteral("usd"), dollars(session.totalUSD)},
            {QStringLiteral("age"), text(PanelTexts::sessionAge(session.lastActivity, now))},
        });
    }
    return rows;
}

QVariantList PanelModel::modelRows() const {
    QVariantList rows;
    for (const auto& entry : figures(store_).monthByModel) {
        if (rows.size() == listedRows) {
            break;
        }
        rows.append(QVariantMap{{QStringLiteral("name"), text(std::string(entry.model))},
                                {QStringLiteral("usd"), dollars(entry.usd)}});
    }
    return rows;
}

QVariantList PanelModel::projectRows() const {
    QVariantList rows;
    for (const auto& entry : figures(store_).monthByProject) {
        if (rows.size() == listedRows) {
            break;
        }
        rows.append(QVariantMap{{QStringLiteral("name"),
                                 text(UsageAggregates::shortenProjectName(std::string_view(entry.project)))},
                                {QStringLiteral("usd"), dollars(entry.usd)}});
    }
    return rows;
}

bool PanelModel::sharing() const {
    return store_.isSharing();
}

bool PanelModel::showAllMachines() const {
    return settings_.showAllMachines();
}

void PanelModel::setShowAllMachines(bool all) {
    settings_.setShowAllMachines(all);
}

QVariantList PanelModel::machineRows() const {
    QVariantList rows;
    for (const UsageStore::Machine& machine : store_.machines()) {
        const QString seen = machine.id == 0     ? QStringLiteral("this machine")
                             : machine.fileFound ? text(PanelTexts::lastSeen(machine.lastSeen, clock_.now()))
                                                 : QStringLiteral("file gone");
        rows.append(QVariantMap{{QStringLiteral("name"), text(machine.name)},
                                {QStringLiteral("seen"), seen},
                                {QStringLiteral("usd"), dollars(machine.monthUSD)}});
    }
    return rows;
}

QString PanelModel::versionText() const {
    const QString version = QCoreApplication::applicationVersion();
    return u'v' + (version.isEmpty() ? QStringLiteral("0.4.0") : version);
}

bool PanelModel::canCheckForUpdates() const {
    return updater_.canCheckForUpdates();
}

void PanelModel::setShown(bool shown) {
    if (shown) {
        ageTimer_.start();
        emit changed();
    } else {
        ageTimer_.stop();
    }
}

// The store is the context: a refresh started here outlives the panel.
void PanelModel::refresh() {
    QCoro::connect(store_.refresh(), &store_, [] {});
}

void PanelModel::copyAdviceCommand() {
    const QString command = adviceCommand();
    if (command.isEmpty()) {
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(command);
}

void PanelModel::checkForUpdates() {
    updater_.checkForUpdates();
}

void PanelModel::openSettings() {
    emit settingsRequested();
}

void PanelModel::quit() {
    QCoreApplication::quit();
}

} // namespace fernhollow
