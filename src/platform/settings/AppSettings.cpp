#include "platform/settings/AppSettings.h"

#include "core/model/IsoDate.h"

#include <QDateTime>
#include <QJsonArray>

#include <cmath>

namespace fernhollow {
namespace {

double storedDouble(const PreferencesStore& store, const char* key, double fallback) {
    const auto value = store.value(QLatin1String(key));
    return value && value->isDouble() ? value->toDouble() : fallback;
}

bool storedBool(const PreferencesStore& store, const char* key, bool fallback = false) {
    const auto value = store.value(QLatin1String(key));
    return value && value->isBool() ? value->toBool() : fallback;
}

QString storedString(const PreferencesStore& store, const char* key) {
    const auto value = store.value(QLatin1String(key));
    return value && value->isString() ? value->toString() : QString();
}

// A list of strings; anything else in it is passed over.
QStringList storedStrings(const PreferencesStore& store, const char* key) {
    const auto value = store.value(QLatin1String(key));
    QStringList strings;
    for (const QJsonValue item : value && value->isArray() ? value->toArray() : QJsonArray()) {
        if (item.isString()) {
            strings.append(item.toString());
        }
    }
    return strings;
}

PricingMode modeFromRaw(const QString& raw) {
    return pricingModeFromRawValue(raw.toStdString()).value_or(PricingMode::anthropicOfficial);
}

} // namespace

AppSettings::AppSettings(PreferencesStore& store, const Clock& clock, QTimeZone zone, QObject* parent)
    : QObject(parent), store_(store), clock_(clock), zone_(std::move(zone)),
      monthlyBudgetUSD_(storedDouble(store, monthlyBudgetKey, BudgetPreferences::defaultMonthlyBudgetUSD)),
      warnThresholdPct_(storedDouble(store, warnThresholdKey, BudgetPreferences::defaultWarnThresholdPct)),
      criticalThresholdPct_(
          storedDouble(store, criticalThresholdKey, BudgetPreferences::defaultCriticalThresholdPct)),
      pricingMode_(modeFromRaw(storedString(store, pricingModeKey))),
      syncRemotePricing_(storedBool(store, syncRemotePricingKey)),
      lastWarnFiredISO_(storedString(store, lastWarnFiredKey)),
      lastCriticalFiredISO_(storedString(store, lastCriticalFiredKey)),
      lastEmergencyFiredISO_(storedString(store, lastEmergencyFiredKey)),
      claudeFolders_(storedStrings(store, claudeFoldersKey)),
      openClawStateFolder_(storedString(store, openClawStateFolderKey)),
      sharedFolder_(storedString(store, sharedFolderKey)),
      showAllMachines_(storedBool(store, showAllMachinesKey, true)) {}

// Every set writes its key, even when the value is unchanged, so that a stored value of
// the wrong type is replaced once the user sets the property; observers hear only changes.
template <typename T>
void AppSettings::update(T& field, T value, const char* key, const QJsonValue& stored,
                         void (AppSettings::*changed)()) {
    const bool differs = !(field == value);
    field = std::move(value);
    store_.setValue(QLatin1String(key), stored);
    if (differs) {
        emit(this->*changed)();
    }
}

QString AppSettings::pricingModeRawValue() const {
    const std::string_view raw = rawValue(pricingMode_);
    return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
}

void AppSettings::setMonthlyBudgetUSD(double value) {
    update(monthlyBudgetUSD_, value, monthlyBudgetKey, value, &AppSettings::monthlyBudgetUSDChanged);
}

void AppSettings::setWarnThresholdPct(double value) {
    update(warnThresholdPct_, value, warnThresholdKey, value, &AppSettings::warnThresholdPctChanged);
}

void AppSettings::setCriticalThresholdPct(double value) {
    update(criticalThresholdPct_, value, criticalThresholdKey, value,
           &AppSettings::criticalThresholdPctChanged);
}

void AppSettings::setPricingMode(PricingMode mode) {
    const std::string_view raw = rawValue(mode);
    update(pricingMode_, mode, pricingModeKey,
           QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size())),
           &AppSettings::pricingModeChanged);
}

void AppSettings::setPricingModeRawValue(const QString& raw) {
    setPricingMode(modeFromRaw(raw));
}

void AppSettings::setSyncRemotePricing(bool value) {
    update(syncRemotePricing_, value, syncRemotePricingKey, value, &AppSettings::syncRemotePricingChanged);
}

void AppSettings::setLastWarnFiredISO(const QString& value) {
    update(lastWarnFiredISO_, value, lastWarnFiredKey, value, &AppSettings::lastWarnFiredISOChanged);
}

void AppSettings::setLastCriticalFiredISO(const QString& value) {
    update(lastCriticalFiredISO_, value, lastCriticalFiredKey, value,
           &AppSettings::lastCriticalFiredISOChanged);
}

void AppSettings::setLastEmergencyFiredISO(const QString& value) {
    update(lastEmergencyFiredISO_, value, lastEmergencyFiredKey, value,
           &AppSettings::lastEmergencyFiredISOChanged);
}

void AppSettings::setClaudeFolders(const QStringList& folders) {
    update(claudeFolders_, folders, claudeFoldersKey, QJsonArray::fromStringList(folders),
           &AppSettings::claudeFoldersChanged);
}

void AppSettings::setOpenClawStateFolder(const QString& folder) {
    update(openClawStateFolder_, folder, openClawStateFolderKey, folder,
           &AppSettings::openClawStateFolderChanged);
}

void AppSettings::setSharedFolder(const QString& folder) {
    update(sharedFolder_, folder, sharedFolderKey, folder, &AppSettings::sharedFolderChanged);
}

void AppSettings::setShowAllMachines(bool value) {
    update(showAllMachines_, value, showAllMachinesKey, value, &AppSettings::showAllMachinesChanged);
}

QString AppSettings::lastFiredISO(ThresholdKind kind) const {
    switch (kind) {
    case ThresholdKind::warn:
        return lastWarnFiredISO_;
    case ThresholdKind::critical:
        return lastCriticalFiredISO_;
    case ThresholdKind::emergency:
        return lastEmergencyFiredISO_;
    }
    return {};
}

void AppSettings::setLastFiredISO(ThresholdKind kind, const QString& value) {
    switch (kind) {
    case ThresholdKind::warn:
        setLastWarnFiredISO(value);
        break;
    case ThresholdKind::critical:
        setLastCriticalFiredISO(value);
        break;
    case ThresholdKind::emergency:
        setLastEmergencyFiredISO(value);
        break;
    }
}

bool AppSettings::hasFiredToday(ThresholdKind kind) const {
    const std::string marker = lastFiredISO(kind).toStdString();
    const auto fired = isodate::parseInternetDateTime(marker, isodate::FractionalSeconds::forbidden);
    if (!fired) {
        return false;
    }
    const auto localDate = [this](double seconds) {
        return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(seconds)), zone_).date();
    };
    return localDate(*fired) == localDate(clock_.now());
}

} // namespace fernhollow
