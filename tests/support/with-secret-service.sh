#!/bin/sh
# Runs a command on a private session bus (see with-private-bus.sh) that also carries a
# keyring daemon of its own, unlocked: the tests meet a real Secret Service, never the user's.
set -eu
exec "$(dirname "$0")/with-private-bus.sh" sh -c '
    printf test | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
    keyring=$!
    tries=0
    until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q true; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "the keyring daemon did not come up" >&2
            kill "$keyring" 2>/dev/null
            exit 1
        fi
        sleep 0.1
    done
    status=0
    "$@" || status=$?
    kill "$keyring" 2>/dev/null
    wait "$keyring" 2>/dev/null
    exit $status
' sh "$@"
