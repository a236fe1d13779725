#!/usr/bin/env bash
# Installs the Debian packages Kopyra needs that are not there yet.
#   tools/deps.sh run    what building and running needs
#   tools/deps.sh test   that, plus what the tests need
set -euo pipefail

run_packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins qt6-translations-l10n
    libgl-dev libtiff-dev libjpeg-dev libqpdf-dev libsane-dev libsane1 sane-utils libcups2-dev
    cups cups-client cups-bsd printer-driver-cups-pdf
    xdg-utils fonts-liberation2
)
test_packages=(xvfb xauth xkb-data x11-xkb-utils xdotool x11-utils poppler-utils imagemagick clang-format
    desktop-file-utils appstream dpkg-dev file
    cups-ipp-utils dbus-daemon dbus-bin iproute2 at-spi2-core python3-pyatspi gir1.2-atspi-2.0)

wanted=("${run_packages[@]}")
[ "${1:-run}" = test ] && wanted+=("${test_packages[@]}")

missing=()
for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installiere: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
