#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

// Where the panel goes on sway, which floats it in the middle of the screen: into the corner
// of the focused workspace beside the bar, top right, or bottom right when the bar is at the
// bottom (the workspace is the output less what bars reserve).
namespace fernhollow::SwayPanelPlacement {

inline constexpr int margin = 6;

// The command that moves the focused window, if it is this process's (`pid`), to that corner
// for a panel of size `panel`, from sway's answers to GET_WORKSPACES and GET_OUTPUTS. Nothing
// when they name no focused workspace on a known output.
std::optional<QString> command(const QByteArray& workspaces, const QByteArray& outputs, QSize panel,
                               qint64 pid);

} // namespace fernhollow::SwayPanelPlacement
