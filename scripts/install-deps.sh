#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Fernhollow need.
# Idempotent: packages already present are left alone, and apt is not touched at all
# when nothing is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format
    qt6-base-dev qt6-declarative-dev qtkeychain-qt6-dev qcoro-qt6-dev
    libsimdjson-dev libsqlite3-dev libzstd-dev libgtest-dev libgmock-dev libbenchmark-dev tzdata
    dbus-daemon dbus-bin gnome-keyring libsecret-tools dunst xvfb xauth desktop-file-utils libglib2.0-bin
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-window
    qml6-module-qtquick-templates qml6-module-qtqml-workerscript qt6-svg-dev fonts-noto-color-emoji fonts-dejavu-core
    trayer xdotool imagemagick x11-utils tesseract-ocr tesseract-ocr-eng
    sway waybar grim qt6-wayland jq lintian appstream dpkg-dev file
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
