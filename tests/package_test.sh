#!/usr/bin/env bash
# The Debian package as a user gets it: its desktop files validate, it installs with dpkg, the
# command on PATH starts the program under X, the help button finds the installed help file,
# and a copy works although the program's folder is not the user's to write in.
#   package_test.sh <build dir> <source dir>
# Needs root (dpkg), an X display (DISPLAY) and the test cupsd (CUPS_SERVER); skips otherwise.
set -euo pipefail
# Window titles hold umlauts: a UTF-8 locale, whatever the machine is set to.
export LC_ALL=C.UTF-8
build=$1
src=$2
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for dpkg"
[ -n "${DISPLAY:-}" ] || skip "needs an X display"
[ -n "${CUPS_SERVER:-}" ] || skip "needs the test cupsd"
if dpkg-query -W -f='${Status}' kopyra 2>/dev/null | grep -q "install ok installed"; then
    skip "kopyra is installed on this machine already; leaving it alone"
fi

work=$(mktemp -d /tmp/kopyra-package.XXXXXX)
chmod 755 "$work"
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    dpkg -r kopyra >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

. "$src/tools/wait-for.sh"

echo "== the package"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/kopyra_*.deb)
dpkg-deb -f "$deb" Version | grep -qx "2.0.0.6"

echo "== desktop entry and AppStream data"
desktop-file-validate /dev/null 2>/dev/null || true
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/example.tandrelwerk.Kopyra.desktop"
# A copy from the desktop's menu or a shortcut: the entry's action.
grep -qx "Exec=kopyra --kopieren" "$work/root/usr/share/applications/example.tandrelwerk.Kopyra.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/example.tandrelwerk.Kopyra.metainfo.xml"
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/kopyra.png" ]
done

echo "== install with dpkg"
dpkg -i "$deb" >/dev/null
[ "$(readlink -f /usr/bin/kopyra)" = "$(readlink -f /usr/lib/kopyra/kopyra)" ]
[ -f /usr/lib/kopyra/hilfe.htm ]

echo "== start as a user who cannot write to the program's folder"
home=$work/home
mkdir -p "$home/config" "$home/fake"
printf '[Kopyra]\nAskBeforePrint=0\nExtView=1\nShowSpecificSetup=0\nShowSpecificSetupFirstPage=0\n' \
    >"$home/config/Tandrelwerk.conf"
printf '[Scanner]\nName=test:0\n[ScanPreferences]\nMode=Gray\nResolution=75\n[Print]\nPrinter=KopyraPDF\n' \
    >"$home/config/kopyra-imaging.conf"
# Stands in for the desktop's opener: notes what the program asks it to open.
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$home" >"$home/fake/xdg-open"
chmod 755 "$home/fake/xdg-open"
chown -R nobody "$home"
runuser -u nobody -- env HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    XDG_RUNTIME_DIR="$home" PATH="$home/fake:/usr/bin:/bin" DISPLAY="$DISPLAY" \
    CUPS_SERVER="$CUPS_SERVER" SANE_CONFIG_DIR="$src/tests/sane/local" \
    kopyra >"$work/kopyra.log" 2>&1 &
pid=$!
title="Kopyra - der handliche Fotokopierer für Windows"
wait_for 20 xdotool search --onlyvisible --name "^$title\$" || { cat "$work/kopyra.log"; exit 1; }
window=$(xdotool search --onlyvisible --name "^$title\$" | head -1)
wait_for 10 viewable "$window" || { echo "the window never became viewable"; exit 1; }

echo "== the help button opens the installed help file"
xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
xdotool key --window "$window" alt+h
wait_for 10 grep -q "file:///usr/lib/kopyra/hilfe.htm" "$home/opened" ||
    { echo "opened: $(cat "$home/opened" 2>/dev/null)"; exit 1; }

echo "== a copy with the page in the user's cache folder"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + 284 + 8 + 58)) $((Y + 8 + 58)) click 1
wait_for 60 test -s "$home/cache/Kopyra/Kopyra.tif" || { cat "$work/kopyra.log"; exit 1; }
[ ! -e /usr/lib/kopyra/Kopyra.tif ]
kill "$pid"
pid=
echo "package test passed"
