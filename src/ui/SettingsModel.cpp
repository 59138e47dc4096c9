#include "ui/SettingsModel.h"

#include "core/common/Folders.h"
#include "core/ledger/PersistenceStore.h"
#include "core/model/PricingFolder.h"
#include "core/sources/CodexParser.h"
#include "core/sources/GeminiParser.h"
#include "core/statusline/ClaudeSettings.h"
#include "core/texts/SettingsTexts.h"
#include "platform/net/PricingConfig.h"
#include "platform/settings/AppSettings.h"
#include "platform/store/UsageStore.h"
#include "platform/system/Keychain.h"
#include "platform/system/Notifications.h"
#include "ui/FileManager.h"
#include "ui/LoginItem.h"

#include <QCoreApplication>
#include <QVariantMap>
#include <algorithm>

namespace fernhollow {
namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString loginStatusText(LoginItem::Status status) {
    switch (status) {
    case LoginItem::Status::notRegistered:
        return QStringLiteral("Off");
    case LoginItem::Status::enabled:
        return QStringLiteral("On \u2014 launches automatically at login");
    case LoginItem::Status::requiresApproval:
        return QStringLiteral("Approve in System Settings \u2192 General \u2192 Login Items");
    case LoginItem::Status::notFound:
        return QStringLiteral("Unavailable (run the installed app from " FERNHOLLOW_INSTALL_BINDIR ")");
    }
    return QStringLiteral("Unknown");
}

// A path under the home folder as the user would type it: "~/.local/share/…".
QString homeRelative(const std::filesystem::path& path) {
    return QString::fromStdString(Folders::homeRelative(path));
}

} // namespace

SettingsModel::SettingsModel(AppSettings& settings, UsageStore& store, LoginItem& loginItem,
                             QNetworkAccessManager& network, const Clock& clock, QObject* parent)
    : QObject(parent), settings_(settings), store_(store), loginItem_(loginItem), network_(network),
      clock_(clock) {
    connect(&store_, &UsageStore::recordsChanged, this, &SettingsModel::changed);
    connect(&settings_, &AppSettings::sharedFolderChanged, this, &SettingsModel::changed);
    connect(&store_, &UsageStore::openaiErrorChanged, this, &SettingsModel::changed);
    connect(&store_, &UsageStore::ledgerErrorChanged, this, &SettingsModel::changed);
    // Another folder to read is read at once, not at the next tick.
    for (const auto changedFolders :
         {&AppSettings::claudeFoldersChanged, &AppSettings::openClawStateFolderChanged}) {
        connect(&settings_, changedFolders, this, [this] {
            emit changed();
            QCoro::connect(store_.refresh(), &store_, [] {});
        });
    }
}

QObject* SettingsModel::settingsObject() const {
    return &settings_;
}

void SettingsModel::setBudgetText(const QString& text) {
    if (text == budgetText_) {
        return;
    }
    budgetText_ = text;
    commitBudget();
    emit changed();
}

// The field is never rewritten here: a rejected text stays as typed while the budget keeps its
// last accepted value.
void SettingsModel::commitBudget() {
    if (const auto budget = SettingsTexts::parseBudget(budgetText_.toStdString())) {
        settings_.setMonthlyBudgetUSD(*budget);
    }
}

void SettingsModel::submitBudget() {
    commitBudget();
}

void SettingsModel::applyBudgetPreset(double budgetUSD) {
    settings_.setMonthlyBudgetUSD(budgetUSD);
    budgetText_ = text(SettingsTexts::budgetText(budgetUSD));
    emit changed();
}

QString SettingsModel::percentText(double fraction) const {
    return text(SettingsTexts::thresholdPercent(fraction));
}

void SettingsModel::appear() {
    budgetText_ = text(SettingsTexts::budgetText(settings_.monthlyBudgetUSD()));
    keyDraft_.clear();
    openaiKeySaved_ = false;
    syncStatus_.clear();
    overrideStatus_.clear();
    readLoginItem();
    emit changed();
    QCoro::connect(Keychain::get(QString::fromLatin1(Keychain::openAIAccount)), this,
                   [this](std::optional<QString> key) {
                       const QString stored = key.value_or(QString());
                       // What the user typed while the store answered is kept.
                       if (keyDraft_.isEmpty()) {
                           keyDraft_ = stored;
                       }
                       openaiKeySaved_ = !stored.isEmpty();
                       emit changed();
                   });
}

void SettingsModel::readLoginItem() {
    const LoginItem::Status status = loginItem_.status();
    launchAtLogin_ = status == LoginItem::Status::enabled;
    loginItemStatus_ = loginStatusText(status);
}

void SettingsModel::setLaunchAtLogin(bool enabled) {
    const std::optional<QString> failure = loginItem_.set(enabled);
    readLoginItem();
    if (failure) {
        loginItemStatus_ = QStringLiteral("\u26A0\uFE0F ") + *failure;
    }
    emit changed();
}

void SettingsModel::testNotification() {
    QCoro::connect(Notifications::fireTest(), this, [] {});
}

void SettingsModel::syncNow() {
    QCoro::connect(PricingConfig::syncRemote(network_), this, [this](std::optional<int> count) {
        syncStatus_ = count ? QStringLiteral("Synced %1 models").arg(*count) : QStringLiteral("Sync failed");
        emit changed();
    });
}

void SettingsModel::editOverrides() {
    const std::filesystem::path example = PricingFolder::exampleURL();
    QCoro::connect(FileManager::reveal(example), this, [this, example](bool shown) {
        if (!shown) {
            overrideStatus_ = homeRelative(example);
            emit changed();
        }
    });
}

void SettingsModel::reloadOverrides() {
    overrideStatus_ = text(PricingFolder::loadUserOverrides());
    emit changed();
}

QString SettingsModel::unpricedText() const {
    const auto& models = store_.snapshot().unpricedModels;
    if (models.empty()) {
        return {};
    }
    QStringList names;
    for (std::size_t i = 0; i < std::min<std::size_t>(models.size(), 5); ++i) {
        names.append(text(models[i]));
    }
    return QStringLiteral("\u26A0\uFE0F Currently unpriced (billed as Sonnet): ") +
           names.join(QStringLiteral(", "));
}

// One line a folder read: "N records · folder", or "Not found · folder".
QString SettingsModel::claudeDetail() const {
    QStringList lines;
    for (const auto& [folder, found, records] : store_.claudeFolderRecords()) {
        lines.append(
            (found ? QString::number(records) + QStringLiteral(" records") : QStringLiteral("Not found")) +
            QStringLiteral(" \u00B7 ") + homeRelative(folder));
    }
    return lines.join(u'\n');
}

QStringList SettingsModel::claudeFoldersAdded() const {
    return settings_.claudeFolders();
}

void SettingsModel::addClaudeFolder(const QString& folder) {
    const QString trimmed = folder.trimmed();
    QStringList folders = settings_.claudeFolders();
    if (!trimmed.isEmpty() && !folders.contains(trimmed)) {
        folders.append(trimmed);
        settings_.setClaudeFolders(folders);
    }
}

void SettingsModel::removeClaudeFolder(const QString& folder) {
    QStringList folders = settings_.claudeFolders();
    folders.removeAll(folder);
    settings_.setClaudeFolders(folders);
}

bool SettingsModel::openclawInstalled() const {
    std::error_code ignored;
    return std::filesystem::is_directory(store_.openClawAgentsRoot(), ignored);
}

QString SettingsModel::openclawFolder() const {
    return settings_.openClawStateFolder();
}

QString SettingsModel::openclawFolderPlaceholder() const {
    return homeRelative(Folders::openClawStateFolder());
}

void SettingsModel::setOpenclawFolder(const QString& folder) {
    settings_.setOpenClawStateFolder(folder.trimmed());
}

QString SettingsModel::openclawDetail() const {
    if (!openclawInstalled()) {
        return settings_.openClawStateFolder().isEmpty()
                   ? QStringLiteral("Not installed")
                   : QStringLiteral("Not found \u00B7 ") + settings_.openClawStateFolder();
    }
    QString detail = QString::number(store_.recordCount(UsageSource::openClaw)) +
                     QStringLiteral(" records \u00B7 ") + homeRelative(store_.openClawAgentsRoot());
    for (const std::string& problem : store_.sourceProblems(UsageSource::openClaw)) {
        detail += QStringLiteral(" \u00B7 ") + text(problem);
    }
    return detail;
}

bool SettingsModel::codexFound() const {
    return CodexParser::defaultHome().has_value();
}

// "N records · folder" for a source found on this machine, "Not found" for one that is not.
QString SettingsModel::sourceDetail(UsageSource source,
                                    const std::optional<std::filesystem::path>& folder) const {
    return folder ? QString::number(store_.recordCount(source)) + QStringLiteral(" records \u00B7 ") +
                        homeRelative(*folder)
                  : QStringLiteral("Not found");
}

QString SettingsModel::codexDetail() const {
    return sourceDetail(UsageSource::codex, CodexParser::defaultHome());
}

bool SettingsModel::geminiFound() const {
    return GeminiParser::defaultRoot().has_value();
}

QString SettingsModel::geminiDetail() const {
    return sourceDetail(UsageSource::gemini, GeminiParser::defaultRoot());
}

bool SettingsModel::openaiDetailIsError() const {
    return store_.openaiError().has_value();
}

QString SettingsModel::openaiDetail() const {
    if (const auto& error = store_.openaiError()) {
        return text(*error);
    }
    if (!openaiKeySaved_) {
        return QStringLiteral("Not connected");
    }
    return QString::number(store_.recordCount(UsageSource::openAI)) + QStringLiteral(" records kept");
}

void SettingsModel::setKeyDraft(const QString& text) {
    if (text != keyDraft_) {
        keyDraft_ = text;
        emit changed();
    }
}

// The key is stored exactly as typed; a refresh then fetches with it.
void SettingsModel::connectKey() {
    QCoro::connect(Keychain::set(keyDraft_, QString::fromLatin1(Keychain::openAIAccount)), this,
                   [this](bool stored) {
                       if (!stored) {
                           return;
                       }
                       openaiKeySaved_ = true;
                       emit changed();
                       QCoro::connect(store_.refresh(), &store_, [] {});
                   });
}

void SettingsModel::disconnectKey() {
    QCoro::connect(Keychain::remove(QString::fromLatin1(Keychain::openAIAccount)), this, [this](bool) {
        keyDraft_.clear();
        openaiKeySaved_ = false;
        emit changed();
        QCoro::connect(store_.refresh(), &store_, [] {});
    });
}

QString SettingsModel::cacheLocationText() const {
    return QStringLiteral("History lives at ") + homeRelative(store_.ledgerPath()) +
           QStringLiteral(". Rescan if numbers look stale or wrong: every log is read again, and the "
                          "records of logs that are gone stay.");
}

QString SettingsModel::cacheSizeText() const {
    return text(SettingsTexts::cacheSize(static_cast<std::uint64_t>(
        std::max<std::int64_t>(0, PersistenceStore::sizeOnDisk(store_.ledgerPath())))));
}

QString SettingsModel::recordsLoadedText() const {
    return QString::number(store_.recordCount()) + QStringLiteral(" records kept");
}

QString SettingsModel::ledgerError() const {
    return store_.ledgerError() ? text(*store_.ledgerError()) : QString();
}

void SettingsModel::forceFullRescan() {
    QCoro::connect(store_.forceFullRescan(), &store_, [] {});
}

void SettingsModel::forgetHistory() {
    QCoro::connect(store_.forgetHistory(), &store_, [] {});
}

bool SettingsModel::sharing() const {
    return store_.isSharing();
}

QString SettingsModel::sharedFolder() const {
    return settings_.sharedFolder();
}

QString SettingsModel::sharedFolderText() const {
    return sharing() ? homeRelative(settings_.sharedFolder().toStdString()) : QStringLiteral("Off");
}

QString SettingsModel::sharingProblems() const {
    QStringList lines;
    for (const std::string& problem : store_.sharingProblems()) {
        lines.append(text(problem));
    }
    return lines.join(u'\n');
}

QVariantList SettingsModel::machines() const {
    QVariantList rows;
    for (const UsageStore::Machine& machine : store_.machines()) {
        const bool thisMachine = machine.id == 0;
        rows.append(QVariantMap{
            {QStringLiteral("id"), static_cast<qint64>(machine.id)},
            {QStringLiteral("name"), text(machine.name)},
            {QStringLiteral("detail"),
             text(SettingsTexts::machineDetail(thisMachine, machine.fileFound, machine.lastSeen,
                                               machine.monthUSD, clock_.now()))},
            {QStringLiteral("removable"), !thisMachine && !machine.fileFound},
        });
    }
    return rows;
}

void SettingsModel::chooseSharedFolder() {
    emit sharedFolderChoiceRequested();
}

void SettingsModel::setSharedFolder(const QString& folder) {
    settings_.setSharedFolder(folder.trimmed());
}

void SettingsModel::stopSharing() {
    settings_.setSharedFolder(QString());
}

void SettingsModel::removeMachine(qint64 id) {
    store_.forgetMachine(id);
}

void SettingsModel::done() {
    emit doneRequested();
}

bool SettingsModel::statusLineInstalled() const {
    return ClaudeSettings::isInstalled(ClaudeSettings::defaultPath());
}

void SettingsModel::toggleStatusLine() {
    const std::filesystem::path file = ClaudeSettings::defaultPath();
    const auto outcome =
        statusLineInstalled()
            ? ClaudeSettings::uninstall(file)
            : ClaudeSettings::install(
                  file, ClaudeSettings::commandFor(QCoreApplication::applicationFilePath().toStdString()));
    statusLineMessage_ = QString::fromStdString(outcome.message);
    emit changed();
}

} // namespace fernhollow
