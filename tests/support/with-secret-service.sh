#!/bin/sh
# Runs a command on a private D-Bus session bus with a keyring daemon of its own, unlocked,
# in a scratch home: the tests meet a real Secret Service and never the user's.
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
dbus-run-session -- sh -c '
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
