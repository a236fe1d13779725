#!/usr/bin/env bash
# XSane's copy mode, a peer of Kopyra, driven as a user would: start `xsane --copy` on SANE's
# test scanner, press its "Scan" button, and time from the press to the file the printer
# writes: the PDF of the cups-pdf queue, or the raster the driverless printer keeps (XSane
# prints through `lp`, as PostScript).
#   xsane_copy.sh DPI RUNS PRINTER     PRINTER: KopyraPDF or KopyraIPP
# Colour copies only: XSane's copy mode copied in colour whatever mode its device settings
# file (--device-settings) named, in every way tried.
# Prints the seconds of each run on a line. Needs DISPLAY, CUPS_SERVER, KOPYRA_TEST_PDF_DIR,
# KOPYRA_TEST_IPP_SPOOL and SANE_CONFIG_DIR (tools/bench.sh sets them).
set -euo pipefail
dpi=$1 runs=$2 printer=$3
if [ "$printer" = KopyraIPP ]; then
    out=$KOPYRA_TEST_IPP_SPOOL pattern='*.pwg'
else
    out=$KOPYRA_TEST_PDF_DIR pattern='*.pdf'
fi
work=$(mktemp -d)
trap 'pkill -f "xsane --copy" 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME=$work
settings=$work/.sane/xsane
mkdir -p "$settings"

window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
wait_window() {
    for _ in $(seq 1 100); do
        [ -n "$(window "$1")" ] && return 0
        sleep 0.1
    done
    echo "xsane_copy: no window \"$1\"" >&2
    return 1
}

start() {
    xsane --copy test:0 >"$work/xsane.log" 2>&1 &
    # XSane warns a root user at each start; its default button goes on.
    if [ "$(id -u)" -eq 0 ]; then
        wait_window '^Warning$'
        xdotool windowfocus --sync "$(window '^Warning$')" key Return
    fi
    wait_window '^xsane [0-9.]* '
    main=$(window '^xsane [0-9.]* ')
    sleep 1 # the preview and the histogram come up after the main window
}

# A first start writes XSane's settings; the copy's resolution is the printer's in them.
start
xdotool windowfocus --sync "$main" key ctrl+q
wait
sed -i -e '/^"printer-\(lineart\|grayscale\|color\)-resolution"$/{n;s/.*/'"$dpi"'/}' \
    -e '/^"printer-command"$/{n;s/.*/"lp -d '"$printer"'"/}' "$settings/xsane.rc"

for run in $(seq 1 "$runs"); do
    start
    eval "$(xdotool getwindowgeometry --shell "$main")"
    touch "$work/marker"
    sleep 1.1 # file times in whole seconds must tell the new PDF from the marker
    # To the button first (a move to where the pointer already is would wait for ever), then
    # the press.
    xdotool mousemove 1 1 sleep 0.1 mousemove --sync $((X + 247)) $((Y + 386))
    pressed=$(date +%s.%N)
    xdotool click 1
    arrived=
    for _ in $(seq 1 600); do
        arrived=$(find "$out" -name "$pattern" -newer "$work/marker" | head -1)
        [ -n "$arrived" ] && break
        sleep 0.05
    done
    [ -n "$arrived" ] || { echo "xsane_copy: nothing arrived at $printer" >&2; exit 1; }
    while [ -n "$(lpstat -o "$printer" 2>/dev/null)" ]; do sleep 0.05; done
    echo "$(stat -c %.9Y "$arrived") - $pressed" | bc
    xdotool windowfocus --sync "$main" key ctrl+q
    wait
done
