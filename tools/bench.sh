#!/usr/bin/env bash
# Installs what is missing, builds Kopyra, starts a private cupsd with a cups-pdf queue and an
# Xvfb display, runs the benchmarks under bench/ and writes their figures to bench/RESULTS.md.
#   tools/bench.sh [runs]    runs per measurement of the copy benchmark (default 5)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" test
# XSane, a peer, for its copy mode.
command -v xsane >/dev/null || { [ "$(id -u)" -ne 0 ] ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends xsane >/dev/null; }

if [ "$(id -u)" -ne 0 ]; then
    # cupsd and cups-pdf need root.
    exec sudo --preserve-env=HOME,PATH "$0" "$@"
fi

"$top/tools/build.sh" "$top/build"

# shellcheck source=tools/test-services.sh
. "$top/tools/test-services.sh"
# The scheduler's log tells which filters ran for a job and how long.
export KOPYRA_CUPSD_LOGLEVEL=debug
kopyra_start_cupsd >/dev/null
kopyra_start_xvfb >/dev/null
kopyra_start_driverless >/dev/null

export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR=$KOPYRA_SERVICES/runtime
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
# The virtual scanner Kopyra falls back to: a colour picture, like a real page.
export SANE_CONFIG_DIR=$top/tools/fallback/sane
# The benchmarks are not beside the program: they name its scanner helper.
export KOPYRA_SCANNER_HELPER=$top/build/kopyra-scanner
bench=$top/build/bench
results=$top/bench/RESULTS.md
report=$(mktemp)

{
    echo "# Benchmark results"
    echo
    echo "Written by \`tools/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), Kopyra" \
        "$(git -C "$top" describe --always --dirty 2>/dev/null || echo '?')."
    echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1)," \
        "$(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GB memory," \
        "$(. /etc/os-release && echo "$PRETTY_NAME"); SANE $(scanimage -V | sed 's/.*backends //')," \
        "CUPS $(dpkg-query -W -f='${Version}' cups 2>/dev/null), Qt $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null | cut -d+ -f1)."
    echo "Pages come from SANE's test scanner (\"Color pattern\"); the printer is a cups-pdf"
    echo "queue of a private cupsd, stopped while measuring so that no conversion runs meanwhile,"
    echo "except where the time to the printer is measured: there the queues run, and the"
    echo "driverless printer is ippeveprinter (monochrome, 600 dpi, PWG raster only) behind an"
    echo "IPP Everywhere queue of the same cupsd."
    echo "The window is a real X window on Xvfb, without a window manager."
    echo
    "$bench/bench_copy" "${1:-5}"
    echo
    "$bench/bench_copy" feeder 3
    echo
    "$bench/bench_copy" two-up 3
    echo
    "$bench/bench_copy" first-sheet 3
    echo
    printers=(KopyraPDF)
    [ -n "${KOPYRA_TEST_IPP_SPOOL:-}" ] && printers+=(KopyraIPP)
    "$bench/bench_copy" paper "${1:-5}" "${printers[@]}"
    [ -n "${KOPYRA_TEST_IPP_SPOOL:-}" ] ||
        echo "(Kein treiberloser Drucker: ${KOPYRA_TEST_IPP_MISSING:-?})"
    echo
    if command -v xsane >/dev/null; then
        echo "## XSane's copy mode, colour, from the press of its \"Scan\" to the printer's file"
        echo
        echo "\`bench/xsane_copy.sh\`: XSane 0.999 started for each copy, 3 copies, median (range)."
        echo
        echo "| Printer | Page | XSane |"
        echo "|---|---|---:|"
        for printer in "${printers[@]}"; do
            for dpi in 300 600; do
                times=$("$top/bench/xsane_copy.sh" "$dpi" 3 "$printer" | sort -n)
                echo "| $printer | $dpi dpi colour | $(echo "$times" | sed -n 2p | xargs printf '%.2f') s" \
                    "($(echo "$times" | head -1 | xargs printf '%.2f')–$(echo "$times" | tail -1 |
                        xargs printf '%.2f')) |"
            done
        done
        echo
    fi
    "$bench/bench_sheet"
    echo
    "$bench/bench_stack"
    echo
    "$bench/bench_book"
    echo
    "$bench/bench_startup" 10
    echo
    "$bench/bench_watch" "$top/build/tests/sane-fault" "$top/tests/sane/fault:$top/tests/sane/local" 20
    echo
    echo "## Resizing with a colour A4 page shown, showing and printing it"
    echo
    echo "200 resizes of the window; showing = reading the page file into the image area,"
    echo "printing = laying it out into a PDF file; peak resident memory while showing / printing."
    echo
    echo "| Page | Repaint, median | Repaint, slowest | Showing | Printing | Peak memory |"
    echo "|---|---:|---:|---:|---:|---:|"
    for dpi in 600 1200; do "$bench/bench_resize" "$dpi"; done
    # What was written by hand below the marker (the history of the figures) stays.
    if [ -f "$results" ] && grep -q '^<!-- kept below -->' "$results"; then
        echo
        sed -n '/^<!-- kept below -->/,$p' "$results"
    fi
} >"$report"
mv "$report" "$results"
chmod 644 "$results"
cat "$results"
