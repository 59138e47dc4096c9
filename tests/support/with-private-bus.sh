#!/bin/sh
# Runs a command on a private D-Bus session bus in a scratch home, so that tests never reach
# the user's desktop. The bus activates no services: a name is served only by what the test
# starts itself, never by a daemon installed on the machine that the bus would launch on
# demand (an installed notification daemon, say, would otherwise answer in place of a fake).
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cat >"$scratch/session.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$scratch</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-run-session --config-file="$scratch/session.conf" -- "$@"
