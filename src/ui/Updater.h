#pragma once

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace fernhollow {

struct UpdateCheckResult {
    enum class Kind { upToDate, updateAvailable, failed };
    Kind kind = Kind::failed;
    // upToDate: the running version; updateAvailable: the newer one.
    QString version{};
    // updateAvailable only: the https page the user is sent to.
    QUrl downloadPage{};
    // failed only: the sentence the user is shown.
    QString message{};
};

// Tells the user whether the update feed offers a newer release; downloading and installing
// are left to them. Main thread only; a check must finish before its updater is destroyed.
class Updater final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    // `network` must outlive the updater. A feed that is empty, or neither https nor plain http
    // to a loopback host, makes an updater that never checks.
    Updater(QNetworkAccessManager& network, QUrl feedUrl, QString currentVersion, QObject* parent = nullptr);

    // The feed this build was configured with (FERNHOLLOW_UPDATE_FEED_URL); empty when none.
    static QUrl buildFeedUrl();

    // False while a check runs, and always when the updater never checks.
    bool canCheckForUpdates() const { return feedAllowed_ && !checking_; }

    // Checks once, announces the outcome through exactly one of the three result signals and
    // returns it too. A check asked for while none can run fails without a request.
    QCoro::Task<UpdateCheckResult> check();

public slots:
    // check() for the panel's button, which learns the outcome from the signals.
    void checkForUpdates();

signals:
    void canCheckForUpdatesChanged();
    void upToDate(QString currentVersion);
    void updateAvailable(QString version, QUrl downloadPage);
    void checkFailed(QString message);

private:
    QCoro::Task<UpdateCheckResult> fetchAndCompare();
    void setChecking(bool checking);
    UpdateCheckResult announce(UpdateCheckResult result);

    QNetworkAccessManager& network_;
    const QUrl feedUrl_;
    const QString currentVersion_;
    const bool feedAllowed_;
    bool checking_ = false;
};

} // namespace fernhollow
