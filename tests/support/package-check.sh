#!/bin/sh
# The Debian package as a user meets it: lintian and the metadata validators pass, apt-get
# installs it, `fernhollow report` runs from /usr/bin, and removing it leaves the machine's
# packages and files as they were. Needs root, since it installs; CI runs it.
# Usage: package-check.sh <fernhollow_<version>_<arch>.deb>
set -eu
deb=$(realpath "$1")
test_name="package check"
. "$(dirname "$0")/end-to-end.sh"
[ "$(id -u)" -eq 0 ] || fail "installing a package needs root"
dpkg-query -W fernhollow >/dev/null 2>&1 && fail "fernhollow is installed already; remove it first"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian found errors"
dpkg-deb --contents "$deb" >"$scratch/contents.txt"
for file in ./usr/bin/fernhollow ./usr/share/applications/fernhollow.desktop \
    ./usr/share/icons/hicolor/scalable/apps/fernhollow.svg \
    ./usr/share/metainfo/app.fernhollow.Fernhollow.metainfo.xml; do
    grep -q " $file\$" "$scratch/contents.txt" || fail "the package lacks $file"
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6core6' || fail "no library dependencies were found"

installed() { dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }
installed >"$scratch/before.txt"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$scratch/apt.log" 2>&1 ||
    fail "apt-get could not install the package: $(tail -n 20 "$scratch/apt.log")"
installed | comm -13 "$scratch/before.txt" - >"$scratch/added.txt"
dpkg-query -L fernhollow >"$scratch/files.txt"

remove() {
    # What the package brought in goes with it.
    xargs -r env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq <"$scratch/added.txt" >>"$scratch/apt.log" 2>&1
}
check() {
    appstreamcli validate --no-net /usr/share/metainfo/app.fernhollow.Fernhollow.metainfo.xml ||
        return 1
    desktop-file-validate /usr/share/applications/fernhollow.desktop || return 1
    write_todays_log "$scratch/home"
    HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/config" XDG_DATA_HOME="$scratch/home/data" \
        XDG_CACHE_HOME="$scratch/home/cache" /usr/bin/fernhollow report --no-openai >"$scratch/report.txt" 2>&1 ||
        return 1
    grep -q 'API-equivalent total \$3\.00' "$scratch/report.txt"
}
status=0
check || status=$?
remove || fail "apt-get could not remove the package: $(tail -n 20 "$scratch/apt.log")"
[ "$status" -eq 0 ] || fail "the installed package does not work: $(cat "$scratch/report.txt" 2>/dev/null)"

installed | cmp -s - "$scratch/before.txt" || fail "removing left packages changed: $(installed | comm -3 - "$scratch/before.txt")"
while read -r file; do
    [ -d "$file" ] || [ ! -e "$file" ] || fail "removing the package left $file behind"
done <"$scratch/files.txt"
[ ! -e /usr/share/doc/fernhollow ] || fail "removing the package left /usr/share/doc/fernhollow behind"
echo "package check: $(basename "$deb") installs (with $(wc -l <"$scratch/added.txt") packages new to the machine), reports and leaves nothing behind"
