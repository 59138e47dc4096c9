#!/bin/sh
# What the tray app costs while idle over a large log tree: CPU seconds and resident memory
# after its first scan, and again after SECONDS of refreshes with nothing changed. Runs the app
# in a scratch home under a virtual display with a real tray; the tree is only linked, never
# written.
#   xvfb-run -a bench/tray-idle-cost.sh build/release/bin/fernhollow build/bench-data/<tree> 300
set -eu
app=$1
tree=$(realpath "$2")
seconds=$3
home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Fernhollow" "$home/.claude"
chmod 700 "$XDG_RUNTIME_DIR"
printf '{"fernhollow.hasSeenWelcome": true}\n' >"$XDG_CONFIG_HOME/Fernhollow/preferences.json"
ln -s "$tree" "$home/.claude/projects"
trayer --edge top --align right --widthtype request --height 32 &
tray=$!
"$app" 2>/dev/null &
pid=$!
trap 'kill $pid $tray 2>/dev/null; rm -rf "$home"' EXIT
cpu() { awk '{print ($14 + $15) / 100}' "/proc/$pid/stat"; }
rss() { awk '/VmRSS/ {printf "%.0f MB", $2 / 1024}' "/proc/$pid/status"; }
# The first scan is over once its cache is written.
until [ -s "$XDG_DATA_HOME/Fernhollow/state.json" ]; do sleep 1; done
sleep 10
before=$(cpu)
echo "after the first scan: cpu ${before} s, rss $(rss)"
sleep "$seconds"
after=$(cpu)
echo "after ${seconds} s idle: cpu ${after} s, rss $(rss); idle cpu $(echo "$after - $before" | bc) s"
