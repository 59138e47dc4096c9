#pragma once

#include <QString>

#include <optional>

namespace fernhollow {

// Whether the app starts when the user logs in. On Linux that is an XDG autostart entry, a
// desktop file whose Exec line runs the installed executable.
class LoginItem {
public:
    // requiresApproval never occurs on Linux; the settings window shows every state it may meet.
    enum class Status { notRegistered, enabled, requiresApproval, notFound };

    // `entryPath` is the autostart desktop file; `executable` the program it starts.
    LoginItem(QString entryPath, QString executable);

    // $XDG_CONFIG_HOME/autostart/fernhollow.desktop, starting the running executable.
    static LoginItem forThisUser();

    // notFound when the executable is not an executable file; otherwise enabled when the entry
    // exists and is not hidden (Hidden=true or X-GNOME-Autostart-enabled=false).
    Status status() const;

    // Writes the entry (enabled) or removes it (not enabled), unless it already has the wanted
    // state. Nothing on success; otherwise the message the settings window shows.
    std::optional<QString> set(bool enabled) const;

private:
    std::optional<QString> writeEntry() const;
    std::optional<QString> removeEntry() const;

    QString entryPath_;
    QString executable_;
};

} // namespace fernhollow
