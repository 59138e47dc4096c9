#pragma once

#include "cli/ReportOptions.h"
#include "core/sync/DeviceIdentity.h"
#include "platform/settings/AppSettings.h"
#include "platform/settings/JsonPreferencesFile.h"
#include "platform/store/UsageStore.h"
#include "platform/system/QtLocalCalendar.h"

#include <QCoroTask>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

class QNetworkAccessManager;

namespace fernhollow {

// The app's own store, run once without a timer and without alerts: the same prices, scans
// and ledger the panel uses. The user's preferences are read, never written.
class HeadlessPass {
public:
    HeadlessPass(const ReportOptions& options, QNetworkAccessManager& network);

    // Reads what the logs and the shared folder gained into the ledger; a failure is told on
    // `err` under `command`'s name, and a long scan shows its progress there when it is a terminal.
    QCoro::Task<> run(std::string_view command, std::ostream& err);
    // After the pass, makes the figures count the machines that `--device` names, or as the
    // settings say without it. Gives the exit code to stop with, after telling why on `err`.
    std::optional<int> countMachines(const std::optional<std::string>& device, std::string_view command,
                                     std::ostream& err);
    // This install's device id and host name; none when the id cannot be kept.
    std::optional<DeviceIdentity> thisMachine() const;

    UsageStore& store() { return store_; }
    const AppSettings& settings() const { return settings_; }

private:
    static UsageStore::Options storeOptions(const ReportOptions& options);

    JsonPreferencesFile preferences_;
    AppSettings settings_;
    QtLocalCalendar calendar_;
    UsageStore store_;
};

} // namespace fernhollow
