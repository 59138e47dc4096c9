#!/bin/sh
# The app in headless sway, with waybar's tray as the StatusNotifierItem host ("tray") or with
# no tray at all ("no-tray"); the panel is read off grim's screenshots and `swaymsg -t get_tree`.
# sway refuses root, so as root the session runs as a user of its own, made and removed here.
# Usage: sway-end-to-end.sh tray|no-tray <fernhollow binary> <screenshot folder>
set -eu
mode=$1
app=$2
shots=$3
here=$(cd "$(dirname "$0")" && pwd)
user=fernhollow-e2e
test_name="sway end to end ($mode)"
. "$here/end-to-end.sh"

if [ "${FERNHOLLOW_SWAY_SESSION:-}" != 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        FERNHOLLOW_SWAY_SESSION=1 exec "$here/with-private-bus.sh" "$here/sway-end-to-end.sh" "$@"
    fi
    # A run that was killed may have left the user behind.
    id "$user" >/dev/null 2>&1 ||
        useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
    # Wherever the build folder is, the session's user can read what it needs in a copy.
    scratch=$(mktemp -d)
    cleanup() {
        mkdir -p "$shots"
        cp "$scratch/shots/"* "$shots/" 2>/dev/null || true
        rm -rf "$scratch"
        # The session's last processes may still be on their way out, which userdel refuses.
        await userdel "$user" || true
    }
    trap cleanup EXIT
    cp "$app" "$here/sway-end-to-end.sh" "$here/end-to-end.sh" "$here/with-private-bus.sh" "$here/lsan-suppressions.txt" "$scratch/"
    mkdir "$scratch/shots"
    chown -R "$user:" "$scratch"
    chmod 755 "$scratch"
    # A build with sanitizers reports leaks at exit; those of the Wayland client library are not ours.
    runuser -u "$user" -- env -i PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 FERNHOLLOW_SWAY_SESSION=1 \
        LSAN_OPTIONS="suppressions=$scratch/lsan-suppressions.txt" \
        "$scratch/with-private-bus.sh" "$scratch/sway-end-to-end.sh" "$mode" "$scratch/fernhollow" "$scratch/shots"
    exit
fi

mkdir -p "$shots"
make_home

printf 'output HEADLESS-1 resolution 1280x800 background #3b4252 solid_color\nxwayland disable\n' >"$home/sway.conf"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$home/sway.conf" 2>"$shots/sway.log" &
pids="$!"
await sh -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock' || fail "sway did not start: $(tail -n 5 "$shots/sway.log")"
SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
export SWAYSOCK WAYLAND_DISPLAY=wayland-1 QT_QPA_PLATFORM=wayland
unset DISPLAY

bar_height=30
if [ "$mode" = tray ]; then
    printf '{ "layer": "top", "position": "top", "height": %s, "modules-right": ["tray"], "tray": { "icon-size": 24 } }\n' \
        "$bar_height" >"$home/waybar.json"
    printf '* { font-family: sans-serif; } window#waybar { background: #2e3440; }\n' >"$home/waybar.css"
    waybar -c "$home/waybar.json" -s "$home/waybar.css" >"$shots/waybar.log" 2>&1 &
    pids="$pids $!"
    await bus_has org.kde.StatusNotifierWatcher || fail "waybar registered no StatusNotifierWatcher"
else
    # Seen already: the greeting would cover the window this case reads.
    printf '{"fernhollow.hasSeenWelcome": true}\n' >"$XDG_CONFIG_HOME/Fernhollow/preferences.json"
    dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications',member='Notify'" \
        >"$home/notifications.txt" 2>&1 &
    pids="$pids $!"
fi

"$app" 2>"$shots/app-$mode.log" &
app_pid=$!
pids="$pids $app_pid"

tree() { swaymsg -t get_tree; }
# The app's window named exactly "Fernhollow" whose content is the panel's 380 pixels wide.
panel_node() {
    tree | jq -e '[.. | objects | select(.app_id? == "fernhollow" and .name == "Fernhollow"
                                         and .window_rect.width == 380 and .visible)] | first'
}
closed() { ! panel_node; }
read_panel() {
    geometry=$(panel_node | jq -r '.window_rect as $w |
        "\($w.width)x\($w.height)+\(.rect.x + $w.x)+\(.rect.y + $w.y)"')
    grim "$shots/$1.png"
    read_panel_off "$shots/$1.png" "$geometry"
    # The footer, with the version, is the last thing in the panel: a window shorter than its
    # content loses it.
    grep -Eq '^v[0-9]+\.[0-9]+' "$shots/$1.txt" || fail "the panel is cut short, without its footer: $(cat "$shots/$1.txt")"
}
# Floating, as a tray panel or a small window must be, not tiled over the whole screen.
check_floating() {
    panel_node | jq -e '.type == "floating_con" and .rect.height < 800' >/dev/null ||
        fail "the panel is not a small floating window: $(panel_node)"
}

if [ "$mode" = tray ]; then
    items() {
        dbus-send --session --print-reply=literal --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
            org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
            string:RegisteredStatusNotifierItems | tr -s ' ' '\n' | grep /
    }
    await items || fail "the app registered no StatusNotifierItem: $(cat "$shots/app-$mode.log")"
    item=$(items | head -n 1)
    service=${item%%/*}
    path=/${item#*/}
    item_property() {
        dbus-send --session --print-reply --dest="$service" "$path" org.freedesktop.DBus.Properties.Get \
            string:org.kde.StatusNotifierItem "string:$1"
    }
    has_tooltip() { item_property ToolTip | grep -q '"\$3\.00"'; }
    await has_tooltip || fail "the item's tooltip is not \$3.00: $(item_property ToolTip)"
    item_property IconPixmap | grep -q 'int32 24' || fail "the item offers no 24-pixel icon"

    # The greeting of a new user is up; a click on the icon must open the panel all the same.
    greeting() { tree | jq -e '[.. | objects | select(.app_id? == "fernhollow" and .visible)] | length == 1'; }
    await greeting || fail "the welcome prompt did not show"
    sleep 0.5
    grim "$shots/wayland-bar.png"
    activate() {
        dbus-send --session --type=method_call --dest="$service" "$path" org.kde.StatusNotifierItem.Activate int32:0 int32:0
    }
    activate
    await panel_node || fail "activating the item opened no panel: $(tree | jq -c '[.. | objects | select(.app_id? == "fernhollow")]')"
    check_floating
    # Top right, below the bar, once sway has been asked to move it there.
    at_corner() {
        panel_node | jq -e --argjson top "$bar_height" '.rect.x + .rect.width == 1280 - 6 and .rect.y == $top + 6'
    }
    await at_corner || fail "the panel is not in the top-right corner: $(panel_node | jq -c .rect)"
    sleep 0.5
    read_panel wayland-panel

    # A second activation closes it; so does another workspace taking the focus.
    activate
    await closed || fail "activating the item again did not close the panel"
    activate
    await panel_node || fail "the panel did not open again"
    swaymsg workspace 2 >/dev/null
    swaymsg workspace 1 >/dev/null
    await closed || fail "the panel stayed open after losing the focus"
    echo "sway end to end: StatusNotifierItem with tooltip \$3.00; the panel floats at the top right and shows \$3.00"
else
    # No tray shows up within the app's grace time, so the panel comes up as a window.
    await panel_node || fail "without a tray the app showed no window: $(cat "$shots/app-$mode.log")"
    check_floating
    panel_node | jq -e '.border != "csd" or .deco_rect.height > 0' >/dev/null ||
        fail "the window has no frame: $(panel_node)"
    sleep 0.5
    read_panel no-tray-window
    grep -q 'Fernhollow opens as a window' "$home/notifications.txt" ||
        fail "no notification told about the missing tray"

    # Its close button hides it and leaves the app running; a second start shows it again.
    swaymsg '[app_id="^fernhollow$" title="^Fernhollow$"] kill' >/dev/null
    await closed || fail "closing the window did not hide it"
    kill -0 "$app_pid" || fail "closing the window ended the app"
    "$app" 2>>"$shots/app-$mode.log" || fail "the second start failed"
    await panel_node || fail "a second start did not show the window again"
    kill -0 "$app_pid" || fail "the first app ended"

    # The next session's app comes up as a window again, without telling again.
    kill "$app_pid"
    await closed || fail "the window outlived its app"
    "$app" 2>>"$shots/app-$mode.log" &
    pids="$pids $!"
    await panel_node || fail "the next start showed no window"
    [ "$(grep -c 'Fernhollow opens as a window' "$home/notifications.txt")" -eq 1 ] ||
        fail "the missing tray was told more than once"
    echo "sway end to end: without a tray the panel is a floating window showing \$3.00; close hides it, a second start shows it"
fi
