#include "ui/Updater.h"

#include "platform/net/HttpEndpoints.h"
#include "platform/net/HttpGet.h"
#include "ui/Appcast.h"

#include <QNetworkRequest>

namespace fernhollow {
namespace {

constexpr int requestTimeoutMs = 30'000;
// Far above any real feed; a server sending more is not serving one.
constexpr qint64 maxFeedBytes = 5 * 1024 * 1024;

UpdateCheckResult failure(QString message) {
    return {UpdateCheckResult::Kind::failed, {}, {}, std::move(message)};
}

UpdateCheckResult unreadableFeed() {
    return failure(QStringLiteral("The update feed could not be read."));
}

} // namespace

Updater::Updater(QNetworkAccessManager& network, QUrl feedUrl, QString currentVersion, QObject* parent)
    : QObject(parent), network_(network), feedUrl_(std::move(feedUrl)),
      currentVersion_(std::move(currentVersion)), feedAllowed_(HttpEndpoints::isAllowed(feedUrl_)) {}

QUrl Updater::buildFeedUrl() {
    return QUrl(QString::fromUtf8(FERNHOLLOW_UPDATE_FEED_URL));
}

QCoro::Task<UpdateCheckResult> Updater::check() {
    if (!feedAllowed_) {
        co_return announce(failure(QStringLiteral("This build does not check for updates.")));
    }
    if (checking_) {
        co_return announce(failure(QStringLiteral("An update check is already running.")));
    }
    setChecking(true);
    auto fetching = fetchAndCompare();
    UpdateCheckResult result = co_await std::move(fetching);
    setChecking(false);
    co_return announce(std::move(result));
}

void Updater::checkForUpdates() {
    if (canCheckForUpdates()) {
        QCoro::connect(check(), this, [](const UpdateCheckResult&) {});
    }
}

QCoro::Task<UpdateCheckResult> Updater::fetchAndCompare() {
    // The feed's address is fixed in the build: a server that moves it is misconfigured, and
    // reported as such.
    auto fetching = HttpGet::fetch(network_, QNetworkRequest(feedUrl_), requestTimeoutMs, maxFeedBytes);
    const HttpGet::Answer answer = co_await std::move(fetching);
    if (answer.tooLarge) {
        co_return unreadableFeed();
    }
    if (!answer.status) {
        co_return failure(QStringLiteral("Could not reach the update server."));
    }
    if (*answer.status != 200) {
        co_return failure(QStringLiteral("The update server gave no feed (HTTP %1).").arg(*answer.status));
    }
    // A 200 whose body was cut short.
    if (!answer.complete) {
        co_return unreadableFeed();
    }
    const std::optional<std::vector<Appcast::Release>> releases = Appcast::releases(answer.body);
    if (!releases) {
        co_return unreadableFeed();
    }
    const std::optional<Appcast::Release> newest = Appcast::newest(*releases);
    if (!newest) {
        co_return failure(QStringLiteral("The update feed lists no release."));
    }
    if (Appcast::compareVersions(newest->version, currentVersion_) > 0) {
        co_return UpdateCheckResult{
            UpdateCheckResult::Kind::updateAvailable, newest->version, newest->downloadPage, {}};
    }
    co_return UpdateCheckResult{UpdateCheckResult::Kind::upToDate, currentVersion_, {}, {}};
}

void Updater::setChecking(bool checking) {
    checking_ = checking;
    emit canCheckForUpdatesChanged();
}

UpdateCheckResult Updater::announce(UpdateCheckResult result) {
    switch (result.kind) {
    case UpdateCheckResult::Kind::upToDate:
        emit upToDate(result.version);
        break;
    case UpdateCheckResult::Kind::updateAvailable:
        emit updateAvailable(result.version, result.downloadPage);
        break;
    case UpdateCheckResult::Kind::failed:
        emit checkFailed(result.message);
        break;
    }
    return result;
}

} // namespace fernhollow
