#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// sway's IPC socket: the only way a client on sway can place its own floating window, since
// Wayland gives windows no say in where they go. Moves bytes only.
namespace fernhollow::SwayIpc {

enum class Message : quint32 { runCommand = 0, getWorkspaces = 1, getOutputs = 3 };

// The socket of the sway session this app runs in ($SWAYSOCK); empty under any other desktop.
QString socketPath();

// Sends one message and returns the payload of sway's reply; nothing when sway cannot be
// reached or does not answer within a second. It waits for the reply without an event loop:
// the compositor answers at once, and a compositor that hangs has hung the desktop anyway.
std::optional<QByteArray> request(const QString& socket, Message type, const QByteArray& payload = {});

} // namespace fernhollow::SwayIpc
