#include "ui/Updater.h"

#include "support/AppcastFeed.h"
#include "support/LocalHttpServer.h"
#include "support/QtPrinters.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace {

using namespace fernhollow;
using Kind = UpdateCheckResult::Kind;
using test::appcastFeed;
using test::appcastItem;
using test::LocalHttpServer;

class UpdaterTest : public ::testing::Test {
protected:
    void TearDown() override { qunsetenv("FERNHOLLOW_HTTP_TIMEOUT_MS"); }

    LocalHttpServer& serve(LocalHttpServer::Response response) {
        server_ = std::make_unique<LocalHttpServer>(std::move(response));
        EXPECT_TRUE(server_->isListening());
        return *server_;
    }

    // One check by a fresh updater, which announces through exactly one signal what it returns
    // and tells the panel's button that no other may start while it runs.
    UpdateCheckResult checkOnce(const QString& currentVersion) {
        Updater updater(network_, QUrl(server_->baseUrl() + QLatin1String("/appcast.xml")), currentVersion);
        QSignalSpy upToDate(&updater, &Updater::upToDate);
        QSignalSpy available(&updater, &Updater::updateAvailable);
        QSignalSpy failed(&updater, &Updater::checkFailed);
        QSignalSpy changes(&updater, &Updater::canCheckForUpdatesChanged);
        auto checking = updater.check();
        EXPECT_FALSE(updater.property("canCheckForUpdates").toBool());
        UpdateCheckResult result = QCoro::waitFor(checking);
        EXPECT_TRUE(updater.canCheckForUpdates());
        EXPECT_EQ(changes.size(), 2);
        const QList<QList<QVariant>> announced = {upToDate.value(0), available.value(0), failed.value(0)};
        EXPECT_EQ(upToDate.size() + available.size() + failed.size(), 1);
        const QList<QVariant> expected = result.kind == Kind::upToDate ? QList<QVariant>{result.version}
                                         : result.kind == Kind::updateAvailable
                                             ? QList<QVariant>{result.version, result.downloadPage}
                                             : QList<QVariant>{result.message};
        EXPECT_EQ(announced[static_cast<int>(result.kind)], expected);
        return result;
    }

    QNetworkAccessManager network_;
    std::unique_ptr<LocalHttpServer> server_;
};

TEST_F(UpdaterTest, ComparesTheNewestReleaseWithTheRunningVersion) {
    // Of two equal versions the first listed is the newest.
    const QByteArray releases = appcastFeed(appcastItem("0.4.1", "https://example.org/releases/0.4.1") +
                                            appcastItem("0.10.0", "https://example.org/releases/0.10.0") +
                                            appcastItem("0.10", "https://example.org/releases/0.10") +
                                            appcastItem("0.9.2", "https://example.org/releases/0.9.2"));
    const std::tuple<const char*, Kind, const char*, const char*> cases[] = {
        {"0.4.1", Kind::updateAvailable, "0.10.0", "https://example.org/releases/0.10.0"},
        {"0.10.0", Kind::upToDate, "0.10.0", ""},
        {"0.11", Kind::upToDate, "0.11", ""},
    };
    for (const auto& [running, kind, version, page] : cases) {
        const LocalHttpServer& server = serve({.body = releases});
        const UpdateCheckResult result = checkOnce(QString::fromUtf8(running));
        EXPECT_EQ(result.kind, kind) << running << ": " << result.message.toStdString();
        EXPECT_EQ(result.version, QString::fromUtf8(version)) << running;
        EXPECT_EQ(result.downloadPage, QUrl(QString::fromUtf8(page))) << running;
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

// Redirects and oversized or cut answers are the endpoints' test; here each failure's words.
TEST_F(UpdaterTest, FailuresAreToldInWords) {
    qputenv("FERNHOLLOW_HTTP_TIMEOUT_MS", "300");
    const std::pair<LocalHttpServer::Response, QByteArray> cases[] = {
        {{.status = 404, .reason = "Not Found", .body = "<rss/>"},
         "The update server gave no feed (HTTP 404)."},
        {{.body = "<html><body>It works!"}, "The update feed could not be read."},
        {{.body = appcastFeed("")}, "The update feed lists no release."},
        {{.neverAnswer = true}, "Could not reach the update server."},
    };
    for (const auto& [response, message] : cases) {
        serve(response);
        const UpdateCheckResult result = checkOnce(QStringLiteral("0.1.0"));
        EXPECT_EQ(result.kind, Kind::failed) << message.toStdString();
        EXPECT_EQ(result.message, QString::fromUtf8(message));
    }
}

} // namespace
