# Sourced by the end-to-end scripts and the bus wrappers.

# Ends the run with a message that names the test ($test_name).
fail() {
    echo "$test_name: $*" >&2
    exit 1
}

# Waits up to ten seconds for a command to succeed.
await() {
    tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -le 100 ] || return 1
        sleep 0.1
    done
}

# Whether the name $1 has an owner on the session bus.
bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q true
}

# One live session in the Claude logs of the home $1: 100,000 Sonnet input and 180,000 output
# tokens a minute ago, below the long-context tier, so $3.00 today.
write_todays_log() {
    mkdir -p "$1/.claude/projects/-home-dev-demo"
    printf '{"type":"assistant","timestamp":"%s","message":{"id":"msg_e2e","model":"claude-sonnet-4-5","usage":{"input_tokens":100000,"output_tokens":180000}}}\n' \
        "$(date -u -d '1 minute ago' +%Y-%m-%dT%H:%M:%S.000Z)" >"$1/.claude/projects/-home-dev-demo/5e5e5e5e-0000-4000-8000-000000000001.jsonl"
}

# A fresh home in $home with today's log, removed on exit with the processes listed in $pids.
make_home() {
    home=$(mktemp -d)
    pids=""
    trap 'kill $pids 2>/dev/null || true; rm -rf "$home"' EXIT
    export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache"
    mkdir -p "$XDG_CONFIG_HOME/Fernhollow"
    write_todays_log "$home"
}

# Reads the panel off the screenshot $1, cropped to its window ($2, WxH+X+Y), into the .txt
# beside it, and fails unless it shows today's $3.00 and the live session.
read_panel_off() {
    text=${1%.png}.txt
    convert "$1" -crop "$2" +repage -scale 300% "$home/panel-ocr.png"
    tesseract "$home/panel-ocr.png" - 2>/dev/null >"$text"
    grep -q '\$3\.00' "$text" || fail "the panel does not show today's \$3.00: $(cat "$text")"
    grep -q '1 active' "$text" || fail "the panel does not show the live session: $(cat "$text")"
}
