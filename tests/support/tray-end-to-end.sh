#!/bin/sh
# The app on a virtual display with a tray: clicks the icon, reads the panel off the screen,
# lowers the budget in the settings window and sees the budget bar grow. Screenshots land in $2.
set -eu
app=$1
shots=$2
here=$(dirname "$0")
test_name="tray end to end"
mkdir -p "$shots"
. "$here/end-to-end.sh"
make_home
# The welcome prompt has its own test; here it would cover the panel.
printf '{"fernhollow.hasSeenWelcome": true}\n' >"$XDG_CONFIG_HOME/Fernhollow/preferences.json"

panel_window() { xdotool search --onlyvisible --name '^Fernhollow$' | head -n 1 | grep .; }
settings_window() { xdotool search --onlyvisible --name '^Fernhollow Settings$' | head -n 1 | grep .; }

green_in_panel() {
    eval "$(xdotool getwindowgeometry --shell "$(panel_window)")"
    import -window root "$home/screen.png"
    convert "$home/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage txt:- | grep -ci '#34C759'
}

trayer --edge top --align right --widthtype request --height 32 --SetDockType true --expand false &
pids="$!"
await xdotool search --class trayer || fail "the tray did not start"

"$app" 2>"$shots/app.log" &
pids="$pids $!"
# The icon sits alone at the right end of the tray.
sleep 3
xdotool mousemove 1264 16 click 1
await panel_window || fail "clicking the tray icon opened no panel"
sleep 1
import -window root "$shots/desktop-panel.png"
eval "$(xdotool getwindowgeometry --shell "$(panel_window)")"
read_panel_off "$shots/desktop-panel.png" "${WIDTH}x${HEIGHT}+${X}+${Y}"
before=$(green_in_panel)

# The gear sits left of "Quit" in the footer.
xdotool mousemove $((X + WIDTH - 110)) $((Y + HEIGHT - 24)) click 1
await settings_window || fail "the gear opened no settings window"
sleep 1
eval "$(xdotool getwindowgeometry --shell "$(settings_window)")"
# The budget field, below the General section.
xdotool mousemove $((X + 80)) $((Y + 240)) click 3 click 1 key ctrl+a type 10
xdotool key Return
sleep 0.5
import -window root "$shots/desktop-settings.png"
grep -q '"fernhollow.monthlyBudgetUSD": 10' "$XDG_CONFIG_HOME/Fernhollow/preferences.json" ||
    fail "typing 10 did not set the budget: $(cat "$XDG_CONFIG_HOME/Fernhollow/preferences.json")"

xdotool mousemove 1264 16 click 1
await panel_window || fail "the panel did not open again"
sleep 1
after=$(green_in_panel)
import -window root "$shots/desktop-panel-after.png"
[ "$after" -gt $((before + 300)) ] || fail "the budget bar did not grow ($before green pixels, then $after)"
echo "tray end to end: panel shows \$3.00 of \$200; budget 10 grew the bar from $before to $after green pixels"
