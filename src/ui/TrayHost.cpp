#include "ui/TrayHost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace fernhollow {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

TrayHost::TrayHost(std::chrono::milliseconds grace, QObject* parent) : QObject(parent), grace_(grace) {
    watcher_.setWatchMode(QDBusServiceWatcher::WatchForRegistration);
    connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { decide(true); });
    graceTimer_.setSingleShot(true);
    connect(&graceTimer_, &QTimer::timeout, this, [this] { decide(false); });
}

void TrayHost::find() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        // Watching before asking leaves no moment in which the watcher could slip by unseen.
        watcher_.setConnection(bus);
        watcher_.setWatchedServices({watcherService});
        if (bus.interface()->isServiceRegistered(watcherService)) {
            decide(true);
            return;
        }
    }
    // Asking Qt about the XEmbed tray makes it settle on XEmbed for good, so a watcher that
    // came later could not be used: on X11 the answer is taken as it is now.
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
        decide(QSystemTrayIcon::isSystemTrayAvailable());
    } else if (!bus.isConnected()) {
        decide(false);
    } else {
        graceTimer_.start(grace_);
    }
}

void TrayHost::decide(bool found) {
    if (decided_) {
        return;
    }
    decided_ = true;
    graceTimer_.stop();
    watcher_.setWatchedServices({});
    emit decided(found);
}

} // namespace fernhollow
