#pragma once

#include "core/model/Clock.h"
#include "core/model/UsageSource.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <filesystem>
#include <optional>

class QNetworkAccessManager;

namespace fernhollow {

class AppSettings;
class LoginItem;
class UsageStore;

// The settings window's state and actions. The window's own fields (the budget text, the key
// draft, the result lines) start afresh at every `appear`; everything else is read live from
// the settings, the store and the login item. Tasks a button starts outlive the window.
class SettingsModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* settings READ settingsObject CONSTANT)
    Q_PROPERTY(QString budgetText READ budgetText WRITE setBudgetText NOTIFY changed)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY changed)
    Q_PROPERTY(QString loginItemStatus READ loginItemStatus NOTIFY changed)
    Q_PROPERTY(bool statusLineInstalled READ statusLineInstalled NOTIFY changed)
    Q_PROPERTY(QString statusLineMessage READ statusLineMessage NOTIFY changed)
    Q_PROPERTY(QString syncStatus READ syncStatus NOTIFY changed)
    Q_PROPERTY(QString overrideStatus READ overrideStatus NOTIFY changed)
    Q_PROPERTY(QString unpricedText READ unpricedText NOTIFY changed)
    Q_PROPERTY(QString claudeDetail READ claudeDetail NOTIFY changed)
    Q_PROPERTY(QStringList claudeFoldersAdded READ claudeFoldersAdded NOTIFY changed)
    Q_PROPERTY(bool openclawInstalled READ openclawInstalled NOTIFY changed)
    Q_PROPERTY(QString openclawFolder READ openclawFolder NOTIFY changed)
    Q_PROPERTY(QString openclawFolderPlaceholder READ openclawFolderPlaceholder CONSTANT)
    Q_PROPERTY(QString openclawDetail READ openclawDetail NOTIFY changed)
    Q_PROPERTY(bool codexFound READ codexFound NOTIFY changed)
    Q_PROPERTY(QString codexDetail READ codexDetail NOTIFY changed)
    Q_PROPERTY(bool geminiFound READ geminiFound NOTIFY changed)
    Q_PROPERTY(QString geminiDetail READ geminiDetail NOTIFY changed)
    Q_PROPERTY(bool openaiKeySaved READ openaiKeySaved NOTIFY changed)
    Q_PROPERTY(QString openaiDetail READ openaiDetail NOTIFY changed)
    Q_PROPERTY(bool openaiDetailIsError READ openaiDetailIsError NOTIFY changed)
    Q_PROPERTY(QString keyDraft READ keyDraft WRITE setKeyDraft NOTIFY changed)
    Q_PROPERTY(QString cacheLocationText READ cacheLocationText CONSTANT)
    Q_PROPERTY(QString cacheSizeText READ cacheSizeText NOTIFY changed)
    Q_PROPERTY(QString recordsLoadedText READ recordsLoadedText NOTIFY changed)
    Q_PROPERTY(QString ledgerError READ ledgerError NOTIFY changed)
    Q_PROPERTY(bool sharing READ sharing NOTIFY changed)
    Q_PROPERTY(QString sharedFolderText READ sharedFolderText NOTIFY changed)
    Q_PROPERTY(QString sharingProblems READ sharingProblems NOTIFY changed)
    Q_PROPERTY(QVariantList machines READ machines NOTIFY changed)

public:
    // Everything given must outlive the model.
    SettingsModel(AppSettings& settings, UsageStore& store, LoginItem& loginItem,
                  QNetworkAccessManager& network, const Clock& clock, QObject* parent = nullptr);

    QObject* settingsObject() const;
    QString budgetText() const { return budgetText_; }
    void setBudgetText(const QString& text);
    bool launchAtLogin() const { return launchAtLogin_; }
    QString loginItemStatus() const { return loginItemStatus_; }
    QString syncStatus() const { return syncStatus_; }
    QString overrideStatus() const { return overrideStatus_; }
    QString unpricedText() const;
    QString claudeDetail() const;
    QStringList claudeFoldersAdded() const;
    bool openclawInstalled() const;
    QString openclawFolder() const;
    QString openclawFolderPlaceholder() const;
    QString openclawDetail() const;
    bool codexFound() const;
    QString codexDetail() const;
    bool geminiFound() const;
    QString geminiDetail() const;
    bool openaiKeySaved() const { return openaiKeySaved_; }
    QString openaiDetail() const;
    bool openaiDetailIsError() const;
    QString keyDraft() const { return keyDraft_; }
    void setKeyDraft(const QString& text);
    QString cacheLocationText() const;
    QString cacheSizeText() const;
    QString recordsLoadedText() const;
    QString ledgerError() const;
    bool sharing() const;
    // As the settings hold it; empty: not sharing.
    QString sharedFolder() const;
    // The shared folder as the user would write it, or "Off".
    QString sharedFolderText() const;
    QString sharingProblems() const;
    // This machine first, then the others: each one's id, name, detail line, and whether the user
    // may remove it (its file left the folder).
    QVariantList machines() const;

    // Resets the window's own fields from the settings, the login item and the stored key.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void submitBudget();
    Q_INVOKABLE void applyBudgetPreset(double budgetUSD);
    Q_INVOKABLE QString percentText(double fraction) const;
    Q_INVOKABLE void setLaunchAtLogin(bool enabled);
    // Sets Fernhollow's command as Claude Code's status line, or takes it out again.
    Q_INVOKABLE void toggleStatusLine();
    bool statusLineInstalled() const;
    QString statusLineMessage() const { return statusLineMessage_; }
    Q_INVOKABLE void testNotification();
    Q_INVOKABLE void syncNow();
    Q_INVOKABLE void editOverrides();
    Q_INVOKABLE void reloadOverrides();
    Q_INVOKABLE void connectKey();
    Q_INVOKABLE void disconnectKey();
    // A Claude Code folder read besides the environment's; blank or repeated text is passed over.
    Q_INVOKABLE void addClaudeFolder(const QString& folder);
    Q_INVOKABLE void removeClaudeFolder(const QString& folder);
    // Empty text goes back to the folder the environment names.
    Q_INVOKABLE void setOpenclawFolder(const QString& folder);
    Q_INVOKABLE void forceFullRescan();
    Q_INVOKABLE void forgetHistory();
    // Asks the window for a folder to share through; it answers with `setSharedFolder`.
    Q_INVOKABLE void chooseSharedFolder();
    // Shares through `folder` from now on; empty text stops sharing.
    Q_INVOKABLE void setSharedFolder(const QString& folder);
    Q_INVOKABLE void stopSharing();
    // Takes a machine whose file is gone out of the figures, once the user has confirmed it.
    Q_INVOKABLE void removeMachine(qint64 id);
    Q_INVOKABLE void done();

signals:
    void changed();
    void doneRequested();
    void sharedFolderChoiceRequested();

private:
    QString sourceDetail(UsageSource source, const std::optional<std::filesystem::path>& folder) const;
    void commitBudget();
    void readLoginItem();

    AppSettings& settings_;
    UsageStore& store_;
    LoginItem& loginItem_;
    QNetworkAccessManager& network_;
    const Clock& clock_;
    QString budgetText_;
    QString keyDraft_;
    bool openaiKeySaved_ = false;
    QString syncStatus_;
    QString overrideStatus_;
    bool launchAtLogin_ = false;
    QString loginItemStatus_;
    QString statusLineMessage_;
};

} // namespace fernhollow
