#pragma once

#include "core/figures/BudgetPreferences.h"
#include "core/figures/ThresholdKind.h"
#include "core/model/Clock.h"
#include "core/model/PricingMode.h"
#include "platform/settings/PreferencesStore.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimeZone>

namespace fernhollow {

// The user's preferences as one observable object. Every key is read once at construction
// (nothing is written then); every set writes its key at once.
class AppSettings final : public QObject {
    Q_OBJECT
    Q_PROPERTY(double monthlyBudgetUSD READ monthlyBudgetUSD WRITE setMonthlyBudgetUSD NOTIFY
                   monthlyBudgetUSDChanged)
    Q_PROPERTY(double warnThresholdPct READ warnThresholdPct WRITE setWarnThresholdPct NOTIFY
                   warnThresholdPctChanged)
    Q_PROPERTY(double criticalThresholdPct READ criticalThresholdPct WRITE setCriticalThresholdPct NOTIFY
                   criticalThresholdPctChanged)
    Q_PROPERTY(
        QString pricingMode READ pricingModeRawValue WRITE setPricingModeRawValue NOTIFY pricingModeChanged)
    Q_PROPERTY(bool syncRemotePricing READ syncRemotePricing WRITE setSyncRemotePricing NOTIFY
                   syncRemotePricingChanged)
    Q_PROPERTY(QString lastWarnFiredISO READ lastWarnFiredISO WRITE setLastWarnFiredISO NOTIFY
                   lastWarnFiredISOChanged)
    Q_PROPERTY(QString lastCriticalFiredISO READ lastCriticalFiredISO WRITE setLastCriticalFiredISO NOTIFY
                   lastCriticalFiredISOChanged)
    Q_PROPERTY(QString lastEmergencyFiredISO READ lastEmergencyFiredISO WRITE setLastEmergencyFiredISO NOTIFY
                   lastEmergencyFiredISOChanged)
    Q_PROPERTY(
        QStringList claudeFolders READ claudeFolders WRITE setClaudeFolders NOTIFY claudeFoldersChanged)
    Q_PROPERTY(QString openClawStateFolder READ openClawStateFolder WRITE setOpenClawStateFolder NOTIFY
                   openClawStateFolderChanged)
    Q_PROPERTY(QString sharedFolder READ sharedFolder WRITE setSharedFolder NOTIFY sharedFolderChanged)
    Q_PROPERTY(
        bool showAllMachines READ showAllMachines WRITE setShowAllMachines NOTIFY showAllMachinesChanged)

public:
    static constexpr auto monthlyBudgetKey = BudgetPreferences::monthlyBudgetKey;
    static constexpr auto warnThresholdKey = BudgetPreferences::warnThresholdKey;
    static constexpr auto criticalThresholdKey = BudgetPreferences::criticalThresholdKey;
    static constexpr auto pricingModeKey = "fernhollow.pricingMode";
    static constexpr auto syncRemotePricingKey = "fernhollow.syncRemotePricing";
    static constexpr auto lastWarnFiredKey = "fernhollow.lastWarnFiredISO";
    static constexpr auto lastCriticalFiredKey = "fernhollow.lastCriticalFiredISO";
    static constexpr auto lastEmergencyFiredKey = "fernhollow.lastEmergencyFiredISO";
    static constexpr auto claudeFoldersKey = "fernhollow.claudeFolders";
    static constexpr auto openClawStateFolderKey = "fernhollow.openClawStateFolder";
    static constexpr auto sharedFolderKey = "fernhollow.sharedFolder";
    static constexpr auto showAllMachinesKey = "fernhollow.showAllMachines";

    // `store` and `clock` must outlive the settings; `zone` decides where a day begins.
    explicit AppSettings(PreferencesStore& store, const Clock& clock = Clock::system(),
                         QTimeZone zone = QTimeZone::systemTimeZone(), QObject* parent = nullptr);

    double monthlyBudgetUSD() const { return monthlyBudgetUSD_; }
    double warnThresholdPct() const { return warnThresholdPct_; }
    double criticalThresholdPct() const { return criticalThresholdPct_; }
    PricingMode pricingMode() const { return pricingMode_; }
    QString pricingModeRawValue() const;
    bool syncRemotePricing() const { return syncRemotePricing_; }
    QString lastWarnFiredISO() const { return lastWarnFiredISO_; }
    QString lastCriticalFiredISO() const { return lastCriticalFiredISO_; }
    QString lastEmergencyFiredISO() const { return lastEmergencyFiredISO_; }
    // Claude Code folders read besides those the environment names, as the user wrote them.
    QStringList claudeFolders() const { return claudeFolders_; }
    // OpenClaw's state folder; empty: the one the environment names.
    QString openClawStateFolder() const { return openClawStateFolder_; }
    // The folder this machine shares its usage through with the user's other machines; empty:
    // not shared.
    QString sharedFolder() const { return sharedFolder_; }
    // While sharing: whether the figures count every machine, or only this one.
    bool showAllMachines() const { return showAllMachines_; }

    void setMonthlyBudgetUSD(double value);
    void setWarnThresholdPct(double value);
    void setCriticalThresholdPct(double value);
    void setPricingMode(PricingMode mode);
    // Unrecognised text counts as the default mode, as when loading.
    void setPricingModeRawValue(const QString& raw);
    void setSyncRemotePricing(bool value);
    void setLastWarnFiredISO(const QString& value);
    void setLastCriticalFiredISO(const QString& value);
    void setLastEmergencyFiredISO(const QString& value);
    void setClaudeFolders(const QStringList& folders);
    void setOpenClawStateFolder(const QString& folder);
    void setSharedFolder(const QString& folder);
    void setShowAllMachines(bool value);

    QString lastFiredISO(ThresholdKind kind) const;
    void setLastFiredISO(ThresholdKind kind, const QString& value);

    // Whether the level's marker names a moment within today's local calendar day.
    bool hasFiredToday(ThresholdKind kind) const;

signals:
    void monthlyBudgetUSDChanged();
    void warnThresholdPctChanged();
    void criticalThresholdPctChanged();
    void pricingModeChanged();
    void syncRemotePricingChanged();
    void lastWarnFiredISOChanged();
    void lastCriticalFiredISOChanged();
    void lastEmergencyFiredISOChanged();
    void claudeFoldersChanged();
    void openClawStateFolderChanged();
    void sharedFolderChanged();
    void showAllMachinesChanged();

private:
    template <typename T>
    void update(T& field, T value, const char* key, const QJsonValue& stored, void (AppSettings::*changed)());

    PreferencesStore& store_;
    const Clock& clock_;
    QTimeZone zone_;
    double monthlyBudgetUSD_;
    double warnThresholdPct_;
    double criticalThresholdPct_;
    PricingMode pricingMode_;
    bool syncRemotePricing_;
    QString lastWarnFiredISO_;
    QString lastCriticalFiredISO_;
    QString lastEmergencyFiredISO_;
    QStringList claudeFolders_;
    QString openClawStateFolder_;
    QString sharedFolder_;
    bool showAllMachines_;
};

} // namespace fernhollow
