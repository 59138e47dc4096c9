#include "ui/Updater.h"

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
using test::LocalHttpServer;

constexpr auto timeoutVariable = "FERNHOLLOW_HTTP_TIMEOUT_MS";

QByteArray feedOf(const QByteArray& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Fernhollow</title>)" +
           items + "</channel></rss>\n";
}

QByteArray item(const QByteArray& version, const QByteArray& page) {
    return "<item><title>Fernhollow " + version + "</title><sparkle:version>" + version +
           "</sparkle:version><link>" + page + "</link></item>";
}

// The three result signals, to check that each check announces exactly what it returns.
struct Announcements {
    explicit Announcements(Updater& updater)
        : upToDate(&updater, &Updater::upToDate), updateAvailable(&updater, &Updater::updateAvailable),
          checkFailed(&updater, &Updater::checkFailed) {}

    QList<QVariant> only(const UpdateCheckResult& result) {
        EXPECT_EQ(upToDate.size() + updateAvailable.size() + checkFailed.size(), 1);
        QSignalSpy& fired = result.kind == Kind::upToDate          ? upToDate
                            : result.kind == Kind::updateAvailable ? updateAvailable
                                                                   : checkFailed;
        return fired.isEmpty() ? QList<QVariant>() : fired.takeFirst();
    }

    QSignalSpy upToDate;
    QSignalSpy updateAvailable;
    QSignalSpy checkFailed;
};

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override { qunsetenv(timeoutVariable); }
    void TearDown() override { qunsetenv(timeoutVariable); }

    LocalHttpServer& serve(LocalHttpServer::Response response) {
        server_ = std::make_unique<LocalHttpServer>(std::move(response));
        EXPECT_TRUE(server_->isListening());
        return *server_;
    }

    QUrl feedUrl() const { return QUrl(server_->baseUrl() + QLatin1String("/appcast.xml")); }

    // One check by a fresh updater, its announcement checked against its result.
    UpdateCheckResult checkOnce(const QString& currentVersion) {
        Updater updater(network_, feedUrl(), currentVersion);
        Announcements announced(updater);
        UpdateCheckResult result = QCoro::waitFor(updater.check());
        const QList<QVariant> arguments = announced.only(result);
        switch (result.kind) {
        case Kind::upToDate:
            EXPECT_EQ(arguments, QList<QVariant>({result.version}));
            break;
        case Kind::updateAvailable:
            EXPECT_EQ(arguments, QList<QVariant>({result.version, result.downloadPage}));
            break;
        case Kind::failed:
            EXPECT_EQ(arguments, QList<QVariant>({result.message}));
            break;
        }
        return result;
    }

    QNetworkAccessManager network_;
    std::unique_ptr<LocalHttpServer> server_;
};

TEST_F(UpdaterTest, ComparesTheNewestReleaseWithTheRunningVersion) {
    const QByteArray severalReleases = feedOf(item("0.4.1", "https://example.org/releases/0.4.1") +
                                              item("0.10.0", "https://example.org/releases/0.10.0") +
                                              item("0.9.2", "https://example.org/releases/0.9.2"));
    struct Case {
        QByteArray feed;
        const char* running;
        Kind kind;
        const char* version;
        const char* page;
    };
    const Case cases[] = {
        {severalReleases, "0.4.1", Kind::updateAvailable, "0.10.0", "https://example.org/releases/0.10.0"},
        {severalReleases, "0.10.0", Kind::upToDate, "0.10.0", ""},
        {severalReleases, "0.11", Kind::upToDate, "0.11", ""},
    };
    for (const auto& [feed, running, kind, version, page] : cases) {
        const LocalHttpServer& server = serve({.body = feed});
        const UpdateCheckResult result = checkOnce(QString::fromUtf8(running));
        EXPECT_EQ(result.kind, kind) << running << ": " << result.message.toStdString();
        EXPECT_EQ(result.version, QString::fromUtf8(version)) << running;
        EXPECT_EQ(result.downloadPage, QUrl(QString::fromUtf8(page))) << running;
        ASSERT_EQ(server.requests().size(), 1u);
        EXPECT_EQ(server.requests().front().method, "GET");
        EXPECT_EQ(server.requests().front().target, "/appcast.xml");
    }
}

// The feed's address is fixed in the build; a server that sends the app elsewhere is not followed.
TEST_F(UpdaterTest, FailuresAreToldInWords) {
    qputenv(timeoutVariable, "300");
    const LocalHttpServer elsewhere({.body = feedOf(item("9.0", "https://example.org/9.0"))});
    const QByteArray unreadable = "The update feed could not be read.";
    struct Case {
        const char* what;
        LocalHttpServer::Response response;
        QByteArray message;
    };
    const Case cases[] = {
        {"not found",
         {.status = 404, .reason = "Not Found", .body = "<rss/>"},
         "The update server gave no feed (HTTP 404)."},
        {"not XML", {.body = "<html><body>It works!"}, unreadable},
        {"too large", {.body = feedOf(QByteArray(6 * 1024 * 1024, ' '))}, unreadable},
        {"cut short",
         {.body = feedOf(item("9.0", "https://example.org/9.0")), .closeAfterBodyBytes = 100},
         unreadable},
        {"no release", {.body = feedOf("")}, "The update feed lists no release."},
        {"no answer", {.neverAnswer = true}, "Could not reach the update server."},
        {"redirected",
         {.status = 302,
          .reason = "Found",
          .headers = {{"Location", elsewhere.baseUrl().toUtf8() + "/appcast.xml"}},
          .body = {}},
         "The update server gave no feed (HTTP 302)."},
    };
    for (const auto& [what, response, message] : cases) {
        serve(response);
        const UpdateCheckResult result = checkOnce(QStringLiteral("0.1.0"));
        EXPECT_EQ(result.kind, Kind::failed) << what;
        EXPECT_EQ(result.message, QString::fromUtf8(message)) << what;
    }
    EXPECT_TRUE(elsewhere.requests().empty());
}

TEST_F(UpdaterTest, NoCheckCanStartWhileOneRuns) {
    const LocalHttpServer& server = serve({.body = feedOf(item("0.1.0", "https://example.org/0.1.0"))});
    Updater updater(network_, feedUrl(), QStringLiteral("0.1.0"));
    QSignalSpy changes(&updater, &Updater::canCheckForUpdatesChanged);
    EXPECT_TRUE(updater.canCheckForUpdates());

    auto first = updater.check();
    EXPECT_FALSE(updater.canCheckForUpdates());
    EXPECT_FALSE(updater.property("canCheckForUpdates").toBool());
    auto second = updater.check();
    ASSERT_TRUE(second.isReady());
    EXPECT_EQ(QCoro::waitFor(second).message, "An update check is already running.");
    EXPECT_EQ(QCoro::waitFor(first).kind, Kind::upToDate);
    EXPECT_TRUE(updater.canCheckForUpdates());
    EXPECT_EQ(changes.size(), 2);
    EXPECT_EQ(server.requests().size(), 1u);

    // The panel's button: the outcome arrives only as a signal.
    QSignalSpy upToDate(&updater, &Updater::upToDate);
    QMetaObject::invokeMethod(&updater, "checkForUpdates");
    EXPECT_FALSE(updater.canCheckForUpdates());
    ASSERT_TRUE(upToDate.wait(10'000));
    EXPECT_EQ(upToDate.front(), QList<QVariant>({QStringLiteral("0.1.0")}));
    EXPECT_TRUE(updater.canCheckForUpdates());
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(UpdaterTest, AFeedThatIsEmptyOrInTheClearIsNeverChecked) {
    for (const char* feed : {"", "http://example.org/appcast.xml"}) {
        Updater updater(network_, QUrl(QString::fromUtf8(feed)), QStringLiteral("0.1.0"));
        EXPECT_FALSE(updater.canCheckForUpdates()) << feed;
        Announcements announced(updater);
        updater.checkForUpdates();
        EXPECT_EQ(announced.checkFailed.size(), 0) << feed;

        // Finished before any event loop ran, so nothing was sent.
        auto check = updater.check();
        ASSERT_TRUE(check.isReady()) << feed;
        const UpdateCheckResult result = QCoro::waitFor(check);
        EXPECT_EQ(result.kind, Kind::failed) << feed;
        EXPECT_EQ(result.message, "This build does not check for updates.") << feed;
        EXPECT_EQ(announced.only(result), QList<QVariant>({result.message})) << feed;
        EXPECT_FALSE(updater.canCheckForUpdates()) << feed;
    }
}

} // namespace
