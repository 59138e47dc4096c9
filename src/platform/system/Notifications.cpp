#include "platform/system/Notifications.h"

#include "FreedesktopNotificationsProxy.h"
#include "core/texts/AlertTexts.h"

#include <QCoreApplication>
#include <QCoroDBusPendingReply>
#include <QDBusConnection>
#include <QHash>
#include <QLoggingCategory>
#include <QPointer>
#include <QVariantMap>

namespace fernhollow::Notifications {
namespace {

// A dropped notification is no error for the caller, but worth a line when someone enables
// QT_LOGGING_RULES="fernhollow.notifications.debug=true" to find out why none appear.
Q_LOGGING_CATEGORY(lcNotifications, "fernhollow.notifications", QtInfoMsg)

// Long enough for a busy desktop, short enough that a hung server cannot hold an alert
// task (and the marker it writes afterwards) for the bus's default 25 s.
constexpr int callTimeoutMs = 5000;

// Building a proxy asks the bus who owns the name, a blocking round trip, so the process
// keeps one. The application owns it, so it goes before the bus connection does.
OrgFreedesktopNotificationsInterface& server() {
    static QPointer<OrgFreedesktopNotificationsInterface> proxy;
    if (proxy.isNull()) {
        proxy = new OrgFreedesktopNotificationsInterface(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QDBusConnection::sessionBus(), QCoreApplication::instance());
        proxy->setTimeout(callTimeoutMs);
    }
    return *proxy;
}

// The id the server gave the last notification of each identifier: passed back as
// replaces_id, it makes the server swap the shown notification instead of stacking another.
QHash<QString, uint>& shownIds() {
    static QHash<QString, uint> ids;
    return ids;
}

// Servers may read the body as markup, where a stray "<" or "&" would hide text or void it.
QString escapeMarkup(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&') {
            escaped += QLatin1String("&amp;");
        } else if (c == u'<') {
            escaped += QLatin1String("&lt;");
        } else if (c == u'>') {
            escaped += QLatin1String("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Arguments and tasks live in locals: GCC 12 mishandles temporaries that live across a
// co_await inside a larger expression.
QCoro::Task<> fireAlert(AlertText alert) {
    const QString title = QString::fromStdString(alert.title);
    const QString body = QString::fromStdString(alert.body);
    auto firing = fire(title, body, alert.sound);
    co_await std::move(firing);
}

} // namespace

QCoro::Task<> fire(QString title, QString body, bool sound) {
    const QString identifier = QStringLiteral("fernhollow.") + title;
    QVariantMap hints;
    if (sound) {
        hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    }
    const QString escapedBody = escapeMarkup(body);
    const uint replaces = shownIds().value(identifier);
    QDBusPendingReply<uint> call = server().Notify(QStringLiteral("Fernhollow"), replaces, QString(), title,
                                                   escapedBody, QStringList(), hints, -1);
    const QDBusPendingReply<uint> reply = co_await call;
    if (reply.isError()) {
        qCDebug(lcNotifications) << "notification dropped:" << reply.error().name()
                                 << reply.error().message();
        co_return;
    }
    shownIds().insert(identifier, reply.value());
}

QCoro::Task<> fireWarn(double spent, double budget, double pct) {
    auto firing = fireAlert(AlertTexts::warn(spent, budget, pct));
    co_await std::move(firing);
}

QCoro::Task<> fireCritical(double spent, double budget, double pct) {
    auto firing = fireAlert(AlertTexts::critical(spent, budget, pct));
    co_await std::move(firing);
}

QCoro::Task<> fireEmergency(double spent, double budget) {
    auto firing = fireAlert(AlertTexts::emergency(spent, budget));
    co_await std::move(firing);
}

QCoro::Task<> fireTest() {
    auto firing = fireAlert(AlertTexts::test());
    co_await std::move(firing);
}

} // namespace fernhollow::Notifications
