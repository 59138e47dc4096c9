#pragma once

#include "core/common/Folders.h"
#include "core/figures/BudgetStatus.h"
#include "core/figures/LocalCalendar.h"
#include "core/figures/UsageAggregates.h"
#include "core/ledger/Ledger.h"
#include "core/model/Clock.h"
#include "core/model/UsageRecord.h"
#include "core/sources/IncrementalScan.h"
#include "core/sync/DeviceIdentity.h"

#include <QCoroTask>
#include <QObject>
#include <QPromise>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QNetworkAccessManager;

namespace fernhollow {

class AppSettings;

// The app's main loop over the usage ledger: it opens the ledger, refreshes at once and then
// on a timer (both log scans off the main thread, in parallel, each writing what it read to the
// ledger in one transaction; the catalogue sync and the OpenAI fetch awaited without blocking),
// and keeps the figures and the budget status. Confined to the main thread. Passes may
// overlap; their scans run one after another.
class UsageStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(QString status READ statusRawValue NOTIFY statusChanged)
    Q_PROPERTY(QString openaiError READ openaiErrorText NOTIFY openaiErrorChanged)
    Q_PROPERTY(QString ledgerError READ ledgerErrorText NOTIFY ledgerErrorChanged)
    Q_PROPERTY(double lastRefresh READ lastRefreshSeconds NOTIFY lastRefreshChanged)
    Q_PROPERTY(int scanFilesRead READ scanFilesRead NOTIFY scanProgressChanged)
    Q_PROPERTY(int scanFilesToRead READ scanFilesToRead NOTIFY scanProgressChanged)

public:
    struct Options {
        // Where the logs are; by default below the user's home folder. The Claude Code folders
        // the user adds in the settings are read besides these.
        std::vector<std::filesystem::path> claudeProjectsRoots = Folders::claudeProjectsFolders();
        // OpenClaw's state folder (or its agents folder); none: the one chosen in the settings,
        // else the environment's.
        std::optional<std::filesystem::path> openClawStateFolder;
        std::optional<std::filesystem::path> codexHome;  // none: the Codex CLI default
        std::optional<std::filesystem::path> geminiRoot; // none: the Gemini CLI default
        // False leaves a source's logs unread (its records stay in the ledger).
        bool readCodex = true;
        bool readGemini = true;
        std::chrono::milliseconds refreshInterval{60'000};
        // False for a headless run: no pass at creation, no timer, and no alert is ever posted
        // nor remembered; the caller drives `refresh`.
        bool interactive = true;
        // False keeps the OpenAI usage out, whether or not a key is stored.
        bool fetchOpenAI = true;
        // Where the ledger is; by default in the data folder.
        std::optional<std::filesystem::path> ledgerPath;
    };

    // A machine whose usage the figures can count: this one, and those met in the shared folder.
    struct Machine {
        std::int64_t id = 0; // 0: this machine
        std::string name;
        double lastSeen = 0.0; // when it last wrote its file, by its clock; this machine: the last pass
        double monthUSD = 0.0;
        bool fileFound = true; // false: its file left the folder; the user may remove it
    };

    // A Claude Code projects folder a pass reads, and how many records the logs read there hold.
    struct FolderRecords {
        std::filesystem::path folder;
        bool found = false;
        std::int64_t records = 0;
    };

    // `settings`, `network`, `clock` and `calendar` must outlive the store.
    UsageStore(AppSettings& settings, QNetworkAccessManager& network, const LocalCalendar& calendar,
               Options options, const Clock& clock = Clock::system(), QObject* parent = nullptr);
    ~UsageStore() override;

    QCoro::Task<> refresh();
    // Reads every log whole again; what is read replaces what was kept of it, and the records
    // of logs that are gone stay.
    QCoro::Task<> forceFullRescan();
    // Empties the ledger, then reads the logs that are still there.
    QCoro::Task<> forgetHistory();

    // Sets `status` from this month's spend; never notifies.
    void recomputeStatus();
    // Sets `status`, then decides on an alert in a task of its own with the values of this call.
    void recomputeStatusAndMaybeNotify();

    std::int64_t recordCount(UsageSource source) const;
    // Every Claude Code projects folder a pass reads, each once, in the order named.
    std::vector<std::filesystem::path> claudeProjectsRoots() const;
    // Of each of those folders; taken from the ledger when first asked after a pass.
    const std::vector<FolderRecords>& claudeFolderRecords() const;
    std::filesystem::path openClawAgentsRoot() const;
    // What the last pass could not read of a source, for its row in the settings.
    const std::vector<std::string>& sourceProblems(UsageSource source) const;
    bool isSharing() const;
    // This machine first, then every other met in the shared folder; none while not sharing.
    const std::vector<Machine>& machines() const { return machines_; }
    // What the last pass over the shared folder could not do.
    const std::vector<std::string>& sharingProblems() const { return sharingProblems_; }
    // Takes the records of a machine whose file is gone out of every figure, as the user confirmed.
    void forgetMachine(std::int64_t id);
    // Makes the figures count one machine (0: this one), or every machine when none, whatever the
    // settings say, as a report run with --device asks; publishes them again.
    void setDeviceScope(std::optional<std::int64_t> device);
    // Of every source.
    std::int64_t recordCount() const;
    const std::optional<std::string>& openaiError() const { return openaiError_; }
    // Why the last pass could not write to the ledger (a full disk, a read-only folder), none
    // once a pass succeeds; else that a damaged ledger was set aside in this run.
    std::optional<std::string> ledgerError() const { return ledgerFailure_ ? ledgerFailure_ : ledgerNotice_; }
    bool lastPassFailed() const { return ledgerFailure_.has_value(); }
    std::optional<double> lastRefresh() const { return lastRefresh_; }
    bool isRefreshing() const { return isRefreshing_; }
    BudgetStatus status() const { return status_; }

    // Every figure the panel shows, computed from the ledger after every pass.
    const UsageAggregates::UsageSnapshot& snapshot() const { return snapshot_; }
    // The main thread's connection, for the report; none when the ledger could not be opened.
    Ledger* ledger() const { return ledger_.get(); }
    const std::filesystem::path& ledgerPath() const { return ledgerPath_; }

    QString statusRawValue() const;
    QString openaiErrorText() const;
    QString ledgerErrorText() const;
    double lastRefreshSeconds() const { return lastRefresh_.value_or(0.0); }
    int scanFilesRead() const { return scanFilesRead_; }
    int scanFilesToRead() const { return scanFilesToRead_; }

signals:
    void recordsChanged();
    void isRefreshingChanged();
    void statusChanged();
    void openaiErrorChanged();
    void ledgerErrorChanged();
    void lastRefreshChanged();
    void scanProgressChanged();

private:
    struct ScanOutcome {
        std::optional<std::string> error;
        bool damaged = false;
        std::map<UsageSource, std::vector<std::string>> problems;
    };

    QCoro::Task<> decideAlert(BudgetStatus before, BudgetStatus after, double spent, double budget,
                              double ratio);
    QCoro::Task<ScanOutcome> scanIntoLedger(bool wholeFiles);
    QCoro::Task<> shareThroughFolder();
    void sharingChanged();
    void openLedger();
    void applyOpenAI(std::vector<UsageRecord> records);
    void setRefreshing(bool refreshing);
    void setStatus(BudgetStatus status);
    void setOpenAIError(std::optional<std::string> error);
    void setLedgerFailure(std::optional<std::string> failure);
    void setLedgerNotice(std::string notice);
    void publishRecords();
    // Within publishRecords, whose failure it shares.
    void publishMachines();
    void publishScanProgress();

    AppSettings& settings_;
    QNetworkAccessManager& network_;
    const LocalCalendar& calendar_;
    const Clock& clock_;
    Options options_;
    std::filesystem::path ledgerPath_;

    std::unique_ptr<Ledger> ledger_;
    std::map<UsageSource, std::int64_t> recordCounts_;
    mutable std::optional<std::vector<FolderRecords>> claudeFolderRecords_;
    std::map<UsageSource, std::vector<std::string>> sourceProblems_;
    std::vector<Machine> machines_;
    std::vector<std::string> sharingProblems_;
    // The machines the caller chose to count; none: as the settings say.
    std::optional<std::optional<std::int64_t>> chosenDeviceScope_;
    // This machine's identity in the shared folder, taken at the first pass that shares.
    std::optional<DeviceIdentity> device_;
    // When this run last wrote the machine's shared file; none before its first pass.
    std::optional<double> lastShareWrite_;
    std::optional<std::string> openaiError_;
    std::optional<std::string> ledgerFailure_;
    std::optional<std::string> ledgerNotice_;
    std::optional<double> lastRefresh_;
    bool isRefreshing_ = false;
    BudgetStatus status_ = BudgetStatus::ok;
    bool didSyncRemoteThisLaunch_ = false;
    // Set by a forced rescan for the next scan.
    bool readWholeLogs_ = false;
    UsageAggregates::UsageSnapshot snapshot_;

    // Shared with the scanning threads, which may outlive a pass's interest in them.
    std::shared_ptr<ScanProgress> scanProgress_ = std::make_shared<ScanProgress>();
    // Present while a scan runs; finished once it has written to the ledger, or failed to.
    std::optional<QPromise<void>> scanDone_;
    int scanFilesRead_ = 0;
    int scanFilesToRead_ = 0;
    QTimer progressTimer_;
    QTimer refreshTimer_;
};

} // namespace fernhollow
