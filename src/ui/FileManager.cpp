#include "ui/FileManager.h"

#include <QCoroDBusPendingCall>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QUrl>

namespace fernhollow::FileManager {

QCoro::Task<bool> reveal(std::filesystem::path file) {
    const QUrl fileUrl = QUrl::fromLocalFile(QString::fromStdString(file.string()));
    // A bare message rather than a QDBusInterface, which would introspect the service
    // synchronously and freeze the app while a file manager starts.
    QDBusMessage showItems = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    showItems << QStringList{fileUrl.toString()} << QString();
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(showItems, 5000);
    const QDBusMessage reply = co_await call;
    if (reply.type() == QDBusMessage::ReplyMessage) {
        co_return true;
    }
    co_return QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(file.parent_path().string())));
}

} // namespace fernhollow::FileManager
