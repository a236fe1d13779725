# Sourced by tools/test.sh: starts what the tests need and stops it again on exit.
#  - a private cupsd (its own folder and socket, so the machine's printers stay untouched)
#    with a cups-pdf queue "KopyraPDF" as its default printer; CUPS_SERVER points at it;
#  - an Xvfb display for tests in real X windows; DISPLAY points at it;
#  - three driverless printers (ippeveprinter) with queues in that cupsd: "KopyraIPP" takes PWG
#    raster only, "KopyraIPPPDF" PDF as well, "KopyraIPPColour" colour raster.
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
LogLevel ${KOPYRA_CUPSD_LOGLEVEL:-warn}
LogTimeFormat usecs
MaxLogSize 0
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

# The avahi-daemon the driverless printer's DNS-SD talks to. Debian's, where it is installed;
# else unpacked from its packages into the build folder, so that the tests never install (and
# thereby start) a system daemon. Prints its path; fails with a reason.
_kopyra_avahi_daemon() {
    if [ -x /usr/sbin/avahi-daemon ]; then echo /usr/sbin/avahi-daemon; return; fi
    local d
    d=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/avahi
    if [ ! -x "$d/usr/sbin/avahi-daemon" ]; then
        mkdir -p "$d/debs"
        (cd "$d/debs" && { apt-get download avahi-daemon libavahi-core7 libdaemon0 ||
            { apt-get update -q && apt-get download avahi-daemon libavahi-core7 libdaemon0; }; }) \
            >"$d/download.log" 2>&1 || { echo "apt-get download avahi-daemon schlug fehl"; return 1; }
        for deb in "$d"/debs/*.deb; do dpkg-deb -x "$deb" "$d"; done
    fi
    echo "$d/usr/sbin/avahi-daemon"
}

_kopyra_free_port() {
    local port=$1
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    echo "$port"
}

# A driverless printer (IPP Everywhere) as nearly every printer sold now is one: ippeveprinter
# on localhost, two-sided, taking PWG raster only, with a queue "KopyraIPP" made by CUPS from
# what the printer says of itself (lpadmin -m everywhere). ippeveprinter announces itself
# through DNS-SD, so it gets an avahi-daemon of its own on a D-Bus of its own; the daemon runs
# in a network namespace of its own, so nothing is announced on the machine's network.
# KOPYRA_TEST_IPP_SPOOL is the folder the printer keeps the jobs' pages in. Without its parts,
# KOPYRA_TEST_IPP_MISSING says why, and the tests that need it say so when they skip.
kopyra_start_driverless() {
    local d=$KOPYRA_SERVICES/ipp avahi tool
    # Without it the tests that need it skip and say why (ctest shows the reason).
    _kopyra_no_driverless() {
        export KOPYRA_TEST_IPP_MISSING=$1
        echo "Kein treiberloser Drucker: $1"
        [ -z "${2:-}" ] || cat "$2"
    }
    for tool in ippeveprinter dbus-daemon dbus-send unshare ip; do
        command -v "$tool" >/dev/null ||
            { _kopyra_no_driverless "$tool fehlt (Pakete cups-ipp-utils, dbus-daemon, iproute2)"; return 0; }
    done
    avahi=$(_kopyra_avahi_daemon) || { _kopyra_no_driverless "avahi-daemon nicht zu haben: $avahi"; return 0; }
    mkdir -p "$d"
    cat >"$d/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$d/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
    printf '[server]\nuse-ipv6=no\n[publish]\npublish-hinfo=no\npublish-workstation=no\n' \
        >"$d/avahi.conf"
    dbus-daemon --config-file="$d/bus.conf" --nofork --nopidfile >"$d/bus.log" 2>&1 &
    _kopyra_pids+=($!)
    local bus=unix:path=$d/bus
    wait_for 10 test -S "$d/bus" || { _kopyra_no_driverless "D-Bus kam nicht hoch" "$d/bus.log"; return 0; }
    # The daemon's pid file goes to a folder of its own (a tmpfs over /run/avahi-daemon that
    # only its mount namespace sees). It gives that folder to the user "avahi" even when it
    # keeps root; where the package never made that user, only its namespace sees one.
    local libs
    libs=$(find "${avahi%/usr/sbin/avahi-daemon}/usr/lib" -name libavahi-core.so.7 -printf '%h' -quit)
    DBUS_SYSTEM_BUS_ADDRESS=$bus LD_LIBRARY_PATH=$libs unshare --net --mount --propagation private sh -c '
            mkdir -p /run/avahi-daemon && mount -t tmpfs kopyra /run/avahi-daemon &&
            add() { getent "$1" avahi >/dev/null ||
                { { cat "/etc/$1"; echo "$2"; } >"$3/$1" && mount --bind "$3/$1" "/etc/$1"; }; } &&
            add passwd avahi:x:0:0::/:/bin/false "$2" && add group avahi:x:0: "$2" &&
            ip link set lo up && exec "$0" -f "$1" --no-drop-root --no-chroot --no-rlimits' \
        "$avahi" "$d/avahi.conf" "$d" >"$d/avahi.log" 2>&1 &
    _kopyra_pids+=($!)
    wait_for 10 sh -c "DBUS_SYSTEM_BUS_ADDRESS=$bus dbus-send --system --print-reply \
        --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
        string:org.freedesktop.Avahi | grep -q true" ||
        { _kopyra_no_driverless "avahi-daemon kam nicht hoch (Netz-Namensraum?)" "$d/avahi.log"; return 0; }
    _kopyra_ipp_printer KopyraIPP image/pwg-raster "$d" "$bus" || return 0
    local uri=$_kopyra_uri spool=$_kopyra_spool
    # Most driverless printers sold take PDF as well: CUPS then sends them the PDF through its
    # own filters, a route of its own to be tested.
    _kopyra_ipp_printer KopyraIPPPDF application/pdf,image/pwg-raster "$d" "$bus" || return 0
    local pdfuri=$_kopyra_uri pdfspool=$_kopyra_spool
    # A colour printer taking raster only: greyscale chosen for it makes Kopyra's raster grey.
    _kopyra_ipp_printer KopyraIPPColour image/pwg-raster "$d" "$bus" -s 10,10 || return 0
    export KOPYRA_TEST_IPP_URI=$uri KOPYRA_TEST_IPP_SPOOL=$spool
    export KOPYRA_TEST_IPPPDF_URI=$pdfuri KOPYRA_TEST_IPPPDF_SPOOL=$pdfspool
    export KOPYRA_TEST_IPPCOLOUR_URI=$_kopyra_uri KOPYRA_TEST_IPPCOLOUR_SPOOL=$_kopyra_spool
}

# One ippeveprinter taking the given formats, and its queue in the test cupsd; sets
# _kopyra_uri and _kopyra_spool.
_kopyra_ipp_printer() { # queue formats folder bus [ippeveprinter options]
    local queue=$1 formats=$2 d=$3/$1 bus=$4 port
    shift 4
    mkdir -p "$d/spool"
    port=$(_kopyra_free_port 8631)
    # -c: a job is done when the printer has it (without, ippeveprinter "prints" 5 to 15 s).
    DBUS_SYSTEM_BUS_ADDRESS=$bus ippeveprinter -p "$port" -n localhost -d "$d/spool" -k -2 -c /bin/true \
        -f "$formats" "$@" -M Kopyra -m "Treiberlos" "$queue" >"$d/ippeveprinter.log" 2>&1 &
    _kopyra_pids+=($!)
    _kopyra_uri=ipp://localhost:$port/ipp/print
    _kopyra_spool=$d/spool
    wait_for 20 ipptool -q "$_kopyra_uri" get-printer-attributes.test ||
        { _kopyra_no_driverless "ippeveprinter kam nicht hoch" "$d/ippeveprinter.log"; return 1; }
    # CUPS reads the printer's attributes now: the printer must answer first.
    lpadmin -p "$queue" -E -v "$_kopyra_uri" -m everywhere ||
        { _kopyra_no_driverless "Die treiberlose Warteschlange $queue ließ sich nicht einrichten"; return 1; }
    echo "Treiberloser Drucker: $queue ($formats) an $_kopyra_uri"
}
