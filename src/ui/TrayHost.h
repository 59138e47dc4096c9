#pragma once

#include <QDBusServiceWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace fernhollow {

// Finds out whether the desktop shows tray icons at all: a StatusNotifierItem host (its
// watcher on the session bus, as on KDE Plasma, waybar or GNOME with the AppIndicator
// extension) or, under X11, an XEmbed tray. Qt settles which tray it talks to when the first
// tray icon is made, so no icon may exist before `decided`.
class TrayHost final : public QObject {
    Q_OBJECT

public:
    // A session starts its bar and its autostart apps at once: a watcher that appears within
    // `grace` still counts.
    explicit TrayHost(std::chrono::milliseconds grace, QObject* parent = nullptr);

    // Emits `decided` once, now or within the grace time; connect first.
    void find();

signals:
    void decided(bool found);

private:
    void decide(bool found);

    std::chrono::milliseconds grace_;
    QDBusServiceWatcher watcher_;
    QTimer graceTimer_;
    bool decided_ = false;
};

} // namespace fernhollow
