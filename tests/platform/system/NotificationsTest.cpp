#include "platform/system/Notifications.h"

#include "core/texts/AlertTexts.h"

#include "support/FakeNotificationServer.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

// On a private bus without service activation, where only a FakeNotificationServer serves.
namespace fernhollow {
namespace {

using test::FakeNotificationServer;
using test::ReceivedNotification;

const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
const QVariantMap soundHint{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};

// Titles of their own, so that no earlier test's notification is there to be replaced.
QString uniqueTitle(const char* label) {
    return QString::fromLatin1(label) + QLatin1Char(' ') + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

class NotificationsTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.isRegistered()); }

    FakeNotificationServer server_;
};

// The words themselves are the alert texts' own test; here they must arrive whole, and only
// critical and over-budget alerts ring.
TEST_F(NotificationsTest, EachAlertArrivesAsWrittenAndOnlyTheUrgentOnesRing) {
    const std::pair<QCoro::Task<> (*)(), AlertText> cases[] = {
        {[] { return Notifications::fireWarn(147.3, 200, 147.3 / 200); },
         AlertTexts::warn(147.3, 200, 147.3 / 200)},
        {[] { return Notifications::fireCritical(180, 200, 0.9); }, AlertTexts::critical(180, 200, 0.9)},
        {[] { return Notifications::fireEmergency(250, 200); }, AlertTexts::emergency(250, 200)},
        {[] { return Notifications::fireTest(); }, AlertTexts::test()},
    };
    for (const auto& [fire, text] : cases) {
        SCOPED_TRACE(text.title);
        const std::size_t before = server_.received().size();
        QCoro::waitFor(fire());
        ASSERT_EQ(server_.received().size(), before + 1);
        const ReceivedNotification& got = server_.received().back();
        EXPECT_EQ(std::tie(got.appName, got.appIcon, got.summary, got.body, got.actions, got.hints,
                           got.expireTimeout),
                  std::tuple(QStringLiteral("Fernhollow"), QString(), QString::fromStdString(text.title),
                             QString::fromStdString(text.body), QStringList(),
                             text.sound ? soundHint : QVariantMap(), -1));
    }
}

// The body is markup to the server, the title plain text.
TEST_F(NotificationsTest, ANewAlertWithTheSameTitleReplacesTheLastOneShown) {
    const QString first = uniqueTitle("Tom & <Jerry>");
    const QString second = uniqueTitle("second");
    QCoro::waitFor(Notifications::fire(first, QStringLiteral("<b>5 < 6</b> & \"7 > 6\""), false));
    QCoro::waitFor(Notifications::fire(first, QStringLiteral("two"), false));
    QCoro::waitFor(Notifications::fire(second, QStringLiteral("three"), false));
    QCoro::waitFor(Notifications::fire(first, QStringLiteral("four"), false));
    const std::vector<ReceivedNotification>& received = server_.received();
    ASSERT_EQ(received.size(), 4U);
    EXPECT_EQ(received[0].summary, first);
    EXPECT_EQ(received[0].body, QStringLiteral("&lt;b&gt;5 &lt; 6&lt;/b&gt; &amp; \"7 &gt; 6\""));
    EXPECT_EQ(received[0].replacesId, 0U);
    EXPECT_EQ(received[1].replacesId, received[0].id);
    EXPECT_EQ(received[2].replacesId, 0U);
    EXPECT_EQ(received[3].replacesId, received[1].id);

    // A server that never answers costs its timeout, not the bus's 25 s, and leaves no id.
    const QString hung = uniqueTitle("hung");
    server_.setAnswering(false);
    QElapsedTimer timer;
    timer.start();
    QCoro::waitFor(Notifications::fire(hung, QStringLiteral("unanswered"), false));
    EXPECT_LT(timer.elapsed(), 10'000);
    server_.setAnswering(true);
    QCoro::waitFor(Notifications::fire(hung, QStringLiteral("answered"), false));
    ASSERT_EQ(received.size(), 6U);
    EXPECT_EQ(received[5].replacesId, 0U);
}

// For a real daemon: support/dunst-end-to-end.sh then checks what dunst shows.
TEST(NotificationsOnARealServer, PostsTheTestNotification) {
    const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr || !bus->isServiceRegistered(serviceName).value()) {
        GTEST_SKIP() << "no notification daemon on this bus";
    }
    QElapsedTimer timer;
    timer.start();
    QCoro::waitFor(Notifications::fireTest());
    EXPECT_LT(timer.elapsed(), 5'000);
}

} // namespace
} // namespace fernhollow
