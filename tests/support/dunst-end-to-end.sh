#!/bin/sh
# Runs the command given, which must post the test notification, beside dunst on a virtual X
# display and a private session bus, then asks dunst what it showed.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
xvfb-run --auto-servernum --server-args="-screen 0 800x600x24" \
    "$here/with-private-bus.sh" sh -c '
    . "$1/end-to-end.sh"
    shift
    test_name="dunst end to end"
    dunst >"$HOME/dunst.log" 2>&1 &
    dunst=$!
    # dunst ends with the run, and shows its log when the run failed.
    trap '\''[ $? -eq 0 ] || cat "$HOME/dunst.log" >&2; kill "$dunst" 2>/dev/null; wait "$dunst" 2>/dev/null'\'' EXIT
    await bus_has org.freedesktop.Notifications || fail "dunst did not come up"

    "$@" || fail "the command that posts the notification failed"

    # Shown, waiting to be shown, or already in the history: any of them means it arrived.
    counted() { [ $(($(dunstctl count displayed) + $(dunstctl count waiting) + $(dunstctl count history))) -ge 1 ]; }
    await counted || fail "dunst counts no notification"
    # Closing moves it into the history, where dunst tells what it showed.
    dunstctl close-all
    history=$(dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
        /org/freedesktop/Notifications org.dunstproject.cmd0.NotificationListHistory)
    for text in Fernhollow "Fernhollow — Test" "Notifications are working."; do
        printf "%s" "$history" | grep -qF "\"$text\"" || fail "dunst did not show \"$text\""
    done
' sh "$here" "$@"
