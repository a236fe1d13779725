# Sourced by tools/test.sh: starts what the tests need and stops it again on exit.
#  - a private cupsd (its own folder and socket, so the machine's printers stay untouched)
#    with a cups-pdf queue "KopyraPDF" as its default printer; CUPS_SERVER points at it;
#  - an Xvfb display for tests in real X windows; DISPLAY points at it.
# Needs root for cupsd (cups-pdf's backend runs as root).

KOPYRA_SERVICES=$(mktemp -d /tmp/kopyra-services.XXXXXX)
chmod 755 "$KOPYRA_SERVICES"
_kopyra_pids=()

kopyra_stop_services() {
    for pid in "${_kopyra_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${_kopyra_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$KOPYRA_SERVICES"
}
trap kopyra_stop_services EXIT

. "$(dirname "${BASH_SOURCE[0]}")/wait-for.sh"
. "$(dirname "${BASH_SOURCE[0]}")/cups-answers.sh"

kopyra_cupsd_running() { [ -S "$CUPS_SERVER" ] && cups_scheduler_answers; }

kopyra_start_cupsd() {
    local d=$KOPYRA_SERVICES/cups
    mkdir -p "$d"/{spool,cache,state,log,tmp}
    chgrp lp "$d/spool" && chmod 0710 "$d/spool"
    chmod 1777 "$d/tmp"
    cat >"$d/cupsd.conf" <<CONF
Listen $d/cups.sock
LogLevel warn
WebInterface No
Browsing No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    cat >"$d/cups-files.conf" <<CONF
ServerRoot $d
RequestRoot $d/spool
CacheDir $d/cache
StateDir $d/state
TempDir $d/tmp
AccessLog $d/log/access_log
ErrorLog $d/log/error_log
PageLog $d/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
SystemGroup root
FileDevice No
CONF
    /usr/sbin/cupsd -f -c "$d/cupsd.conf" -s "$d/cups-files.conf" &
    _kopyra_pids+=($!)
    export CUPS_SERVER=$d/cups.sock
    # lpstat -r says "not running" with exit status 0, so read what it says.
    wait_for 20 kopyra_cupsd_running ||
        { echo "cupsd kam nicht hoch:"; cat "$d/log/error_log"; return 1; }
    lpadmin -p KopyraPDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null ||
        { echo "Der PDF-Drucker ließ sich nicht einrichten:"; cat "$d/log/error_log"; return 1; }
    lpadmin -d KopyraPDF
    # cups-pdf writes each job into the PDF folder of the job's owner.
    export KOPYRA_TEST_PDF_DIR=$HOME/PDF
    echo "cupsd: $CUPS_SERVER, Drucker $(lpstat -d | sed 's/.*: //')"
}

kopyra_start_xvfb() {
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    # -noreset: an X server resets when its last client goes (between test scenarios), and
    # a client connecting meanwhile is refused ("could not connect to display").
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$KOPYRA_SERVICES/xvfb.log" 2>&1 &
    _kopyra_pids+=($!)
    export DISPLAY=:$n
    wait_for 20 xdpyinfo || { echo "Xvfb kam nicht hoch:"; cat "$KOPYRA_SERVICES/xvfb.log"; return 1; }
    echo "Xvfb: DISPLAY=$DISPLAY"
}
