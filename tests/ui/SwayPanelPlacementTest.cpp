#include "ui/SwayPanelPlacement.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using namespace fernhollow;

TEST(SwayPanelPlacementTest, PutsThePanelInTheCornerBesideTheBar) {
    // sway's replies, cut down to the fields the placement reads: HEADLESS-1 is 1280x800 at
    // the origin, DP-2 1920x1080 to its right; the focused workspace's area is what bars leave.
    const QByteArray outputs = R"([{"name":"HEADLESS-1","rect":{"x":0,"y":0,"width":1280,"height":800}},
                                   {"name":"DP-2","rect":{"x":1280,"y":0,"width":1920,"height":1080}}])";
    const auto workspaces = [](const char* output, int x, int y, int width, int height) {
        return QString::asprintf(
                   R"([{"focused":false,"output":"HEADLESS-1","rect":{"x":0,"y":0,"width":9,"height":9}},)"
                   R"({"focused":true,"output":"%s","rect":{"x":%d,"y":%d,"width":%d,"height":%d}}])",
                   output, x, y, width, height)
            .toUtf8();
    };
    // What, the workspaces, the panel's height, and where it goes (empty: nothing to move).
    const std::tuple<const char*, QByteArray, int, const char*> cases[] = {
        {"bar on top", workspaces("HEADLESS-1", 0, 30, 1280, 770), 500, "894 36"},
        {"bar at the bottom", workspaces("HEADLESS-1", 0, 0, 1280, 770), 500, "894 264"},
        {"no bar", workspaces("HEADLESS-1", 0, 0, 1280, 800), 500, "894 6"},
        {"second output", workspaces("DP-2", 1280, 24, 1920, 1056), 500, "2814 30"},
        {"taller than the screen", workspaces("HEADLESS-1", 0, 0, 1280, 770), 900, "894 0"},
        {"narrower than the panel", workspaces("HEADLESS-1", 0, 30, 300, 770), 500, "0 36"},
        {"unknown output", workspaces("HDMI-9", 0, 0, 1280, 800), 500, ""},
        {"not JSON", "i3-ipc", 500, ""},
    };
    for (const auto& [what, workspaceReply, panelHeight, position] : cases) {
        const auto command = SwayPanelPlacement::command(workspaceReply, outputs, {380, panelHeight}, 4242);
        if (*position == '\0') {
            EXPECT_FALSE(command) << what;
        } else {
            EXPECT_EQ(command.value_or(QString()),
                      QStringLiteral("[pid=4242 con_id=__focused__] move absolute position %1")
                          .arg(QString::fromUtf8(position)))
                << what;
        }
    }
}

} // namespace
