#!/bin/sh
# Installs a build tree into a scratch prefix and checks that the desktop finds what it needs
# there: the program on the path, its menu entry and its icon.
# Usage: install-layout.sh <cmake> <build dir> <bin dir> <data dir>, the last two relative to the prefix.
set -eu
cmake=$1 build=$2 bindir=$3 datadir=$4
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

fail() {
    echo "$1" >&2
    exit 1
}
binary="$prefix/$bindir/fernhollow"
entry="$prefix/$datadir/applications/fernhollow.desktop"
icon="$prefix/$datadir/icons/hicolor/scalable/apps/fernhollow.svg"
{ [ -f "$binary" ] && [ -x "$binary" ]; } || fail "no executable at $binary"
[ -f "$entry" ] || fail "no desktop entry at $entry"
[ -f "$icon" ] || fail "no icon at $icon"

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || fail "the installed desktop entry does not validate"
else
    echo "desktop-file-validate is not installed (package desktop-file-utils); the entry was not validated"
fi
