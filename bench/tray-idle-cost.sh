#!/bin/sh
# What the tray app costs over a large log tree: CPU seconds, bytes written and resident memory
# after its first scan, and over SECONDS of refreshes after it. Without --append nothing
# changes meanwhile; with --append an agent seems at work: one Claude Code reply is appended to
# one log every 10 s. Runs the app in a scratch home under a virtual display with a real tray.
# The tree is never written: it is linked, and with --append its project folders are linked one
# by one beside a project folder of the script's own, whose log (a copy of the tree's largest)
# is the one that grows.
#   xvfb-run -a bench/tray-idle-cost.sh [--append] build/release/bin/fernhollow \
#       build/bench-data/<tree>/projects 300
# fernhollow-ledger-records, built beside the app, tells when the first pass has committed.
set -eu
append=false
if [ "${1:-}" = --append ]; then
    append=true
    shift
fi
if [ $# -ne 3 ]; then
    echo "usage: $0 [--append] APP PROJECTS_TREE SECONDS" >&2
    exit 2
fi
app=$1
tree=$(realpath "$2")
seconds=$3
count_records="$(dirname "$app")/fernhollow-ledger-records"
[ -x "$count_records" ] || { echo "$0: $count_records is missing; build fernhollow-ledger-records" >&2; exit 2; }

home=$(mktemp -d)
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Fernhollow" "$home/.claude"
chmod 700 "$XDG_RUNTIME_DIR"
printf '{"fernhollow.hasSeenWelcome": true}\n' >"$XDG_CONFIG_HOME/Fernhollow/preferences.json"
ledger="$XDG_DATA_HOME/Fernhollow/ledger.sqlite3"

if $append; then
    mkdir "$home/.claude/projects"
    for project in "$tree"/*/; do
        ln -s "${project%/}" "$home/.claude/projects/$(basename "$project")"
    done
    mkdir "$home/.claude/projects/-home-user-src-live"
    largest=$(find "$tree"/ -mindepth 2 -maxdepth 2 -name '*.jsonl' -printf '%s %p\n' | sort -rn | head -n 1 |
        cut -d ' ' -f 2-)
    log="$home/.claude/projects/-home-user-src-live/$(basename "$largest")"
    cp "$largest" "$log"
    session=$(basename "$log" .jsonl)
else
    ln -s "$tree" "$home/.claude/projects"
fi

pids=""
trap 'kill $pids 2>/dev/null; rm -rf "$home"' EXIT
trayer --edge top --align right --widthtype request --height 32 &
pids="$!"
started=$(date +%s.%N)
"$app" 2>/dev/null &
pid=$!
pids="$pids $pid"

cpu() { awk '{printf "%.2f", ($14 + $15) / 100}' "/proc/$pid/stat"; }
rss_mb() { awk -v field="${1:-VmRSS}:" '$1 == field {printf "%.0f", $2 / 1024}' "/proc/$pid/status"; }
io() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$pid/io"; }
mb() { echo "$1" | awk '{printf "%.2f", $1 / 1e6}'; }
judge() { awk -v value="$1" -v goal="$2" 'BEGIN {print (value <= goal) ? "met" : "NOT MET"}'; }

# The first pass writes all it read in one transaction: once the ledger counts records, it
# has committed.
until records=$("$count_records" "$ledger" 2>/dev/null) && [ "$records" -gt 0 ]; do
    kill -0 "$pid" 2>/dev/null || { echo "$0: the app exited before its first pass" >&2; exit 1; }
    sleep 1
done
first_pass=$(echo "$(date +%s.%N) $started" | awk '{printf "%.0f", $1 - $2}')
# After the commit the store takes the figures; ten seconds later it is idle.
sleep 10
cpu_before=$(cpu)
written_before=$(io write_bytes)
handed_before=$(io wchar)
rss_first=$(rss_mb)
echo "first pass committed ${records} records within ${first_pass} s"
# Under a virtual display Qt Quick draws with Mesa's software renderer, whose libraries count
# among the file-backed pages; the anonymous ones are the app's own.
echo "after the first scan: cpu ${cpu_before} s, rss ${rss_first} MB (goal <= 100 MB: $(judge "$rss_first" 100)," \
    "of it anonymous $(rss_mb RssAnon) MB)," \
    "written $(mb "$written_before") MB"

if $append; then
    # A reply as Claude Code logs it, in the copied session, with a message id of its own.
    (
        n=0
        while :; do
            sleep 10
            n=$((n + 1))
            id=$(printf '%06d%012d' $$ "$n")
            now=$(date -u +%Y-%m-%dT%H:%M:%S.%3NZ)
            printf '{"parentUuid":"5b0c8e1a-4d2f-4c3b-9e8a-%s","isSidechain":false,"userType":"external","cwd":"/home/user/src/live","sessionId":"%s","version":"2.0.42","gitBranch":"main","message":{"model":"claude-sonnet-4-5-20250929","id":"msg_01TrayIdle%s","type":"message","role":"assistant","content":[{"type":"text","text":"Done: the reader now keeps each streamed copy'"'"'s message id, and the tests pass."}],"stop_reason":"end_turn","stop_sequence":null,"usage":{"input_tokens":4,"cache_creation_input_tokens":1843,"cache_read_input_tokens":96512,"cache_creation":{"ephemeral_5m_input_tokens":0,"ephemeral_1h_input_tokens":1843},"output_tokens":412,"service_tier":"standard"}},"requestId":"req_011CTrayIdle%s","type":"assistant","uuid":"7c1d9f2b-3e4a-4b5c-8d6e-%s","timestamp":"%s"}\n' \
                "${id#??????}" "$session" "$id" "$id" "${id#??????}" "$now" >>"$log"
        done
    ) &
    pids="$pids $!"
fi

sleep "$seconds"
cpu_after=$(cpu)
written=$(($(io write_bytes) - written_before))
handed=$(($(io wchar) - handed_before))
records_after=$("$count_records" "$ledger" 2>/dev/null || echo "?")
cpu_spent=$(echo "$cpu_after $cpu_before" | awk '{printf "%.2f", $1 - $2}')
if $append; then
    echo "after ${seconds} s with a line appended every 10 s: cpu ${cpu_after} s, rss $(rss_mb) MB" \
        "(anonymous $(rss_mb RssAnon) MB),"  \
        "ledger ${records_after} records"
    echo "  over the ${seconds} s: cpu ${cpu_spent} s (goal <= 1.5 s: $(judge "$cpu_spent" 1.5))," \
        "written $(mb "$written") MB (goal <= 10 MB: $(judge "$(mb "$written")" 10))," \
        "handed to write calls $(mb "$handed") MB"
else
    echo "after ${seconds} s idle: cpu ${cpu_after} s, rss $(rss_mb) MB (anonymous $(rss_mb RssAnon) MB);" \
        "idle cpu ${cpu_spent} s," \
        "written $(mb "$written") MB, handed to write calls $(mb "$handed") MB"
fi
