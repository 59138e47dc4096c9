#!/bin/sh
# Runs a command on a private session bus (see with-private-bus.sh) that also carries a
# keyring daemon of its own, unlocked: the tests meet a real Secret Service, never the user's.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/with-private-bus.sh" sh -c '
    . "$1/end-to-end.sh"
    shift
    printf test | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null 2>&1 &
    keyring=$!
    status=0
    if await bus_has org.freedesktop.secrets; then
        "$@" || status=$?
    else
        echo "the keyring daemon did not come up" >&2
        status=1
    fi
    kill "$keyring" 2>/dev/null
    wait "$keyring" 2>/dev/null
    exit $status
' sh "$here" "$@"
