#!/usr/bin/env bash
# Installs what is missing, builds Kopyra and starts it. Without a real scanner Kopyra uses
# SANE's virtual test scanner; without any printer a PDF printer (cups-pdf, into ~/PDF).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" run
# The program only; the test command builds the rest.
KOPYRA_BUILD_TARGET=kopyra "$top/tools/build.sh" "$top/build"

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

if ! scanimage -L 2>/dev/null | grep -q '^device'; then
    echo "Kein Scanner gefunden: Kopyra verwendet den Testscanner von SANE."
    export SANE_CONFIG_DIR=$top/tools/fallback/sane
fi

# A scheduler of the machine's own, whatever the desktop's language: never a second one beside
# it.
. "$top/tools/cups-answers.sh"
cupsd_running() { pgrep -x cupsd >/dev/null || cups_scheduler_answers; }
if ! cupsd_running; then
    echo "Der Druckdienst (cupsd) läuft nicht: starte ihn."
    "${sudo[@]}" /usr/sbin/cupsd
    for _ in $(seq 50); do cupsd_running && break; sleep 0.1; done
fi
if ! LC_ALL=C lpstat -v 2>/dev/null | grep -q .; then
    echo "Kein Drucker eingerichtet: richte den PDF-Drucker \"Kopyra-PDF\" ein (Ausgabe in ~/PDF)."
    "${sudo[@]}" lpadmin -p Kopyra-PDF -E -v cups-pdf:/ \
        -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null
    "${sudo[@]}" lpadmin -d Kopyra-PDF
fi

exec "$top/build/kopyra" "$@"
