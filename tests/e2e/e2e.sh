#!/usr/bin/env bash
# Kopyra as a person uses it: the built program in a real X window, SANE's test scanner, the
# test cupsd's PDF printer, clicks and keys through xdotool.
#   e2e.sh <build dir> <source dir> [scenario ...]
# Needs DISPLAY and CUPS_SERVER/KOPYRA_TEST_PDF_DIR (tools/test.sh sets them); skips otherwise.
# Screenshots of failures go to <build dir>/e2e-artifacts/.
set -euo pipefail
# Window titles hold umlauts: a UTF-8 locale, whatever the machine is set to.
export LC_ALL=C.UTF-8
build=$1
src=$2
shift 2
# Under tools/test.sh, which starts X and cupsd, a skip would leave these scenarios unguarded.
skip() {
    [ -n "${KOPYRA_SERVICES_STARTED:-}" ] && { echo "FAIL: $* (tools/test.sh started them)"; exit 1; }
    echo "SKIP: $*"
    exit 77
}
[ -n "${DISPLAY:-}" ] || skip "needs an X display"
[ -n "${CUPS_SERVER:-}" ] && [ -n "${KOPYRA_TEST_PDF_DIR:-}" ] || skip "needs the test cupsd"

artifacts=$build/e2e-artifacts
mkdir -p "$artifacts" "$KOPYRA_TEST_PDF_DIR"
work=$(mktemp -d /tmp/kopyra-e2e.XXXXXX)
pid=
saned=
other_saned=
patience= # of the scanner helper's watchdog, in ms; empty: the program's own
scenario=
title="Kopyra - der handliche Fotokopierer für Windows"

printer_gone=
restore_printer() {
    lpadmin -p KopyraPDF -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null
    [ -z "${KOPYRA_TEST_IPP_URI:-}" ] ||
        lpadmin -p KopyraIPP -E -v "$KOPYRA_TEST_IPP_URI" -m everywhere 2>/dev/null
    [ -z "${KOPYRA_TEST_IPPPDF_URI:-}" ] ||
        lpadmin -p KopyraIPPPDF -E -v "$KOPYRA_TEST_IPPPDF_URI" -m everywhere 2>/dev/null
    [ -z "${KOPYRA_TEST_IPPCOLOUR_URI:-}" ] ||
        lpadmin -p KopyraIPPColour -E -v "$KOPYRA_TEST_IPPCOLOUR_URI" -m everywhere 2>/dev/null
    lpadmin -d KopyraPDF
    printer_gone=
}
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
    [ -n "$printer_gone" ] && restore_printer
    [ -n "$saned" ] && kill "$saned" 2>/dev/null && wait "$saned" 2>/dev/null || true
    [ -n "$other_saned" ] && stop_other_saned
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL [$scenario]: $*"
    /usr/bin/import -window root "$artifacts/${scenario// /_}.png" 2>/dev/null || true
    [ -f "$home/kopyra.log" ] && sed 's/^/  log: /' "$home/kopyra.log"
    exit 1
}
. "$src/tools/wait-for.sh"
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
has_window() { [ -n "$(window "$1")" ]; }
no_window() { [ -z "$(window "$1")" ]; }
ended() { ! kill -0 "$1"; }
focus() { # waits until the window can take the focus
    local w
    w=$(window "$1")
    wait_for 10 viewable "$w"
    xdotool windowfocus --sync "$w" 2>/dev/null || true
}
key() { # window keys: focus the window, then type as a keyboard would
    focus "$1"
    sleep 0.2
    xdotool key "$2"
}
# The colour of one screen pixel as "r g b".
pixel() {
    /usr/bin/convert x:root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null |
        sed -n 's/.*srgb(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1 \2 \3/p;s/.*srgba(\([0-9]*\),\([0-9]*\),\([0-9]*\),.*/\1 \2 \3/p' | head -1
}
# The copy button's middle, where the copy picture's bar is.
copy_button() {
    eval "$(xdotool getwindowgeometry --shell "$(window "$title")")"
    local frame_left=$(((WIDTH - 417) + 284))
    echo "$((X + frame_left + 8 + 58)) $((Y + 8 + 58))"
}
copy_picture_is() { # green or red
    local r g b
    read -r r g b <<<"$(pixel $(copy_button))"
    if [ "$1" = green ]; then [ "$g" -gt 100 ] && [ "$r" -lt 100 ]; else [ "$r" -gt 150 ] && [ "$g" -lt 100 ]; fi
}

# A fresh user, with the program in an application folder of its own.
fresh() {
    scenario=$1
    echo "== $scenario"
    home=$work/${scenario// /_}
    mkdir -p "$home/app" "$home/config" "$home/cache" "$home/Documents"
    cp "$build/kopyra" "$build/kopyra-scanner" "$src/resources/hilfe.htm" "$home/app/"
    printf '[Scanner]\nName=test:0\n[ScanPreferences]\nMode=Gray\nResolution=150\nPaper=A4\n' \
        >"$home/config/kopyra-imaging.conf"
    printf '[Print]\nPrinter=KopyraPDF\n' >>"$home/config/kopyra-imaging.conf"
}
store() { { echo '[Kopyra]'; printf '%s\n' "$@"; } >"$home/config/Tandrelwerk.conf"; }
# The scanner that reports the device fault it is told to, instead of the test scanner.
fault_scanner() { # fault
    sed -i 's/^Name=test:0$/Name=fault:0/' "$home/config/kopyra-imaging.conf"
    printf '[DeviceOptions]\nfault_3A0\\read-return-value=%s\n' "$1" >>"$home/config/kopyra-imaging.conf"
}
shown_or_ended() { has_window "$title" || ended "$pid"; }
launch() {
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        CUPS_SERVER=$home/cups.sock SANE_CONFIG_DIR=${1:-$src/tests/sane/local} \
        LD_LIBRARY_PATH=$build/tests/sane-fault KOPYRA_SCANNER_PATIENCE_MS=${patience:-} \
        "$home/app/kopyra" >"$home/kopyra.log" 2>&1 &
    pid=$!
}
start() { # [SANE configuration folder]
    # The program reaches cupsd through a link of its own, so a scenario can take cupsd away.
    ln -sfn "$CUPS_SERVER" "$home/cups.sock"
    launch "$@"
    # Now and then Xvfb refuses a connection for a moment: that is the display, not Kopyra.
    wait_for 20 shown_or_ended
    if no_window "$title" && grep -q "could not connect to display" "$home/kopyra.log"; then
        echo "   (Xvfb refused the connection; starting once more)"
        sleep 1
        launch "$@"
    fi
    wait_for 20 has_window "$title" || fail "no main window"
    sleep 0.5 # the first layout and focus
    focus "$title"
}
stop() {
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
}
option() { sed -n "s/^$1=//p" "$home/config/Tandrelwerk.conf"; }
option_is() { [ "$(option "$1")" = "$2" ]; }
marker() { touch "$home/marker"; sleep 1; }
new_pdf() { find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker" | head -1; }
have_new_pdf() { [ -n "$(new_pdf)" ]; }
logged() { grep -q "$1" "$home/kopyra.log"; }
jobs_done() { [ -z "$(lpstat -o 2>/dev/null)" ]; }
press_copy() { xdotool mousemove --sync $(copy_button) click 1; }
# A press, and the copy printed to its end.
copy_arrives() { # what
    marker
    press_copy
    wait_for 60 have_new_pdf || fail "no copy $1"
    wait_for 60 jobs_done
}
close_box() { # what it was about
    key Kopyra Return
    wait_for 10 no_window Kopyra || fail "box about $1 stayed"
}

scenario_first_start() {
    fresh "first start"
    start
    eval "$(xdotool getwindowgeometry --shell "$(window "$title")")"
    read -r sw sh <<<"$(xdpyinfo | sed -n 's/.*dimensions: *\([0-9]*\)x\([0-9]*\).*/\1 \2/p')"
    [ $((X + WIDTH / 2 - sw / 2)) -le 2 ] && [ $((sw / 2 - X - WIDTH / 2)) -le 2 ] || fail "not centred"
    [ "$(option AskBeforePrint)$(option ExtView)$(option ShowSpecificSetup)$(option ShowSpecificSetupFirstPage)" = 0010 ] ||
        fail "store after start: $(cat "$home/config/Tandrelwerk.conf")"
    copy_picture_is green || fail "copy button not idle"
    ! pgrep -P "$pid" kopyra-scanner >/dev/null || fail "scanner helper started before any scan"
    key "$title" alt+a
    wait_for 5 option_is ExtView 1 || fail "Alt+A did not store ExtView=1"
    stop
}

scenario_one_copy() {
    fresh "one copy"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    start
    copy_arrives "at all"
    local pdf
    pdf=$(new_pdf)
    pdfinfo "$pdf" | grep -q "Pages: *1$" || fail "not one page"
    pdfinfo "$pdf" | grep -q "Page size: *595.* x 84[12]" || fail "not A4"
    # The test picture's grid at true size: 10 mm squares, the first one white.
    pdftoppm -r 100 -gray -singlefile "$pdf" "$home/page"
    local light dark
    light=$(/usr/bin/convert "$home/page.pgm" -crop 1x1+20+20 -depth 8 txt:- | grep -o 'gray([0-9]*' | tr -dc 0-9)
    dark=$(/usr/bin/convert "$home/page.pgm" -crop 1x1+59+20 -depth 8 txt:- | grep -o 'gray([0-9]*' | tr -dc 0-9)
    [ "$light" -gt 200 ] && [ "$dark" -lt 60 ] || fail "grid not at true size ($light, $dark)"
    [ -s "$home/app/Kopyra.tif" ] || fail "no page file"
    # The user was told where the copy went, and nothing waits for a click.
    grep -q 'Kopie an „KopyraPDF“ gesendet (1 Seite)' "$home/kopyra.log" || fail "no word where the copy went"
    no_window Kopyra || fail "a box after the copy"
    stop
}

scenario_ask_before_print() {
    fresh "ask before print"
    store 'AskBeforePrint=1' 'ShowSpecificSetup=0'
    start
    marker
    press_copy
    wait_for 30 has_window Kopyra || fail "no question"
    grep -q 'Meldung: Soll die eingescannte Seite jetzt gedruckt werden?$' "$home/kopyra.log" ||
        fail "not the question"
    key Kopyra alt+n
    wait_for 10 no_window Kopyra
    sleep 3
    [ -z "$(new_pdf)" ] || fail "printed after Nein"
    press_copy
    wait_for 30 has_window Kopyra || fail "no question the second time"
    key Kopyra Return
    wait_for 60 have_new_pdf || fail "no copy after Ja"
    wait_for 60 jobs_done
    stop
}

scenario_jammed() {
    fresh "jammed scanner"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    fault_scanner SANE_STATUS_JAMMED
    start "$src/tests/sane/fault:$src/tests/sane/local"
    press_copy
    wait_for 30 has_window Kopyra || fail "no error box"
    [ "$(xdotool search --onlyvisible --name '^Kopyra$' | wc -l)" -eq 1 ] || fail "more than one box"
    # Its words, from the log: the jam, reported by the copy's first phase, once.
    [ "$(grep -c 'Meldung: Es kam zu folgendem Problem:.*Papierstau.*Phase: 0$' "$home/kopyra.log")" -eq 1 ] ||
        fail "not one box about the jam"
    close_box "the jam"
    wait_for 5 copy_picture_is green || fail "copy button not idle after the error"
    # The jam cleared: the next copy works.
    sed -i 's/SANE_STATUS_JAMMED/Default/' "$home/config/kopyra-imaging.conf"
    copy_arrives "after the jam"
    stop
}

# Impatient presses (a double click, a bouncing mouse) while a copy runs start nothing more:
# one copy, no box, and the window takes the next press.
scenario_quick_presses() {
    fresh "quick presses"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    # A slow scanner (some seconds a page), so that every press after the first falls
    # into the running copy.
    printf '[DeviceOptions]\ntest_3A0\\read-limit=true\ntest_3A0\\read-limit-size=65536\n' \
        >>"$home/config/kopyra-imaging.conf"
    printf 'test_3A0\\read-delay=true\ntest_3A0\\read-delay-duration=100000\n' \
        >>"$home/config/kopyra-imaging.conf"
    start
    local presses delay copies
    for presses_delay in "2 0" "5 80" "10 50" "2 1000"; do
        read -r presses delay <<<"$presses_delay"
        marker
        xdotool mousemove --sync $(copy_button) click --repeat "$presses" --delay "$delay" 1
        wait_for 60 have_new_pdf || fail "no copy after $presses presses $delay ms apart"
        wait_for 60 jobs_done
        sleep 1
        copies=$(find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker" | wc -l)
        [ "$copies" -eq 1 ] || fail "$copies copies after $presses presses $delay ms apart"
        no_window Kopyra || fail "a box after $presses presses $delay ms apart"
        copy_picture_is green || fail "copy button not idle after $presses presses"
    done
    stop
}

# No printer at all: the copy becomes a PDF file in the documents folder, and the window says
# where without a box.
scenario_no_printer() {
    fresh "no printer"
    sed -i '/^Printer=/d' "$home/config/kopyra-imaging.conf"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    printer_gone=1
    lpadmin -x KopyraPDF
    lpadmin -x KopyraIPP 2>/dev/null || true # the driverless printers, where there are
    lpadmin -x KopyraIPPPDF 2>/dev/null || true
    lpadmin -x KopyraIPPColour 2>/dev/null || true
    start
    press_copy
    has_pdf_copy() { [ -n "$(find "$home/Documents" -name 'Kopie *.pdf')" ]; }
    wait_for 60 has_pdf_copy || fail "no PDF file in the documents folder"
    wait_for 10 grep -q 'Kein Drucker eingerichtet: Die Kopie ist als „Kopie .*\.pdf“ im Ordner' \
        "$home/kopyra.log" || fail "no word where the PDF file went"
    no_window Kopyra || fail "a box after the PDF copy"
    stop
    restore_printer
}

scenario_info_and_end() {
    fresh "info and end"
    store 'ExtView=1' 'ShowSpecificSetup=0'
    echo leftover >"$home/app/Kopyra.tif"
    start
    key "$title" alt+i
    wait_for 10 has_window "Info über Kopyra" || fail "no info window"
    key "Info über Kopyra" alt+s
    wait_for 10 no_window "Info über Kopyra" || fail "info stayed"
    key "$title" alt+e
    wait_for 10 ended "$pid" || fail "Ende did not end the program"
    pid=
    [ -f "$home/app/Kopyra.tif" ] || fail "page file gone"
}

# Both settings files in trouble at start-up: each told once, in the log and in a box that
# belongs to the main window (never behind it); the copy works all the same, and nothing is
# told twice.
scenario_damaged_settings() {
    fresh "damaged settings"
    printf '\x89PNG\x01=\x02\n[Kopyra]\nAskBeforePrint=0\nShowSpecificSetup=0\n\xff\xfe[[\n' \
        >"$home/config/Tandrelwerk.conf"
    rm "$home/config/kopyra-imaging.conf"
    mkdir "$home/config/kopyra-imaging.conf"
    start
    local told main box
    told() { [ "$(boxes_about "$1")" -eq 1 ]; }
    wait_for 10 told "Tandrelwerk.conf“ war beschädigt" || fail "the damaged option store not told"
    wait_for 10 told "an ihrer Stelle steht ein Ordner (Datei „.*kopyra-imaging.conf“)" ||
        fail "the unwritable imaging settings not told"
    ! grep -q 'General\|\x89' "$home/config/Tandrelwerk.conf" || fail "garbage kept as settings"
    main=$(window "$title")
    for box in $(xdotool search --onlyvisible --name '^Kopyra$'); do
        xprop -id "$box" WM_TRANSIENT_FOR | grep -qi "$(printf '0x%x' "$main")" ||
            fail "a notice not owned by the main window"
        wait_for 10 viewable "$box"
        xdotool windowfocus --sync "$box" key Return
    done
    wait_for 10 no_window Kopyra || fail "a notice stayed"
    copy_arrives "with damaged settings"
    told "Tandrelwerk.conf“ war beschädigt" && told "kopyra-imaging.conf“" || fail "told again"
    stop
}

# The feeder's stack in one press: SANE's test scanner has ten sheets in its feeder, slowed to
# about a second a page as a real feeder. The first sheet is on paper while the feeder still
# scans, each sheet a job of its own; one line tells the ten pages. Paging through the view
# with the keys.
scenario_feeder() {
    fresh "feeder"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    sed -i 's/^Paper=A4$/Paper=A4\nSource=Feeder/; s/^Resolution=150$/Resolution=50/' \
        "$home/config/kopyra-imaging.conf"
    printf '[DeviceOptions]\ntest_3A0\\%s\n' read-limit=true read-limit-size=16384 \
        read-delay=true read-delay-duration=75000 >>"$home/config/kopyra-imaging.conf"
    start
    # Where the focus is after start and after every copy, on the copy button, Return copies as
    # Space does, and Bild ab and Bild auf page through the stack.
    marker
    key "$title" Return
    wait_for 60 have_new_pdf || fail "no copy of the stack after Return"
    local out
    out=$(find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker" | wc -l)
    [ "$out" -le 3 ] || fail "the first sheet came with the $out-th, not while the feeder scanned"
    wait_for 60 logged 'Kopie an „KopyraPDF“ gesendet (10 Seiten)' || fail "not told ten pages"
    wait_for 60 jobs_done
    local pdf pages=0
    for pdf in $(find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker"); do
        pdfinfo "$pdf" | grep -q "Page size: *595.* x 84[12]" || fail "not A4"
        pages=$((pages + $(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')))
    done
    [ "$pages" = 10 ] || fail "not ten pages: $pages"
    local first
    first=$(page_bar)
    key "$title" Next
    sleep 0.5
    [ "$(page_bar)" != "$first" ] || fail "Bild ab did not turn the page"
    key "$title" Prior
    sleep 0.5
    [ "$(page_bar)" = "$first" ] || fail "Bild auf did not turn back"
    no_window Kopyra || fail "a box while paging"
    stop
}

# Several originals into one copy, by keyboard alone: two pages from the glass (Return for
# "Weiter", Alt+F for "Fertig"), then the feeder's ten fronts and, the stack turned over, its
# ten backs; each one job of every page.
scenario_several_originals() {
    fresh "several originals"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    sed -i 's/^Paper=A4$/Paper=A4\nSource=FlatbedPages/; s/^Resolution=150$/Resolution=50/' \
        "$home/config/kopyra-imaging.conf"
    start
    marker
    key "$title" Return
    wait_for 30 has_window "Mehrere Vorlagen" || fail "not asked for the next original"
    grep -q 'Meldung: Seite 1 ist gescannt. Nächste Vorlage auflegen und „Weiter“ drücken – oder „Fertig“, um zu kopieren.$' \
        "$home/kopyra.log" || fail "not the copier's words"
    key "Mehrere Vorlagen" Return
    wait_for 30 grep -q 'Meldung: Seite 2 ist gescannt' "$home/kopyra.log" ||
        fail "not asked after page 2"
    wait_for 10 has_window "Mehrere Vorlagen" || fail "no question after page 2"
    key "Mehrere Vorlagen" alt+f
    wait_for 60 have_new_pdf || fail "no copy of the two originals"
    wait_for 60 jobs_done
    pdfinfo "$(new_pdf)" | grep -q "Pages: *2$" || fail "not two pages: $(pdfinfo "$(new_pdf)" | grep Pages)"
    grep -q 'Kopie an „KopyraPDF“ gesendet (2 Seiten)' "$home/kopyra.log" || fail "not told two pages"
    stop

    # Escape at the question asks before a page is lost ("Nein" the default); a Kopyra killed
    # while it waits after page 2 offers the two pages at its next start, and Return copies them.
    start
    key "$title" Return
    wait_for 30 has_window "Mehrere Vorlagen" || fail "not asked for the next original"
    key "Mehrere Vorlagen" Escape
    wait_for 10 grep -q 'Meldung: 1 gescannte Seite verwerfen?$' "$home/kopyra.log" ||
        fail "Escape not asked about the page"
    sleep 0.5
    key "Mehrere Vorlagen" Return
    wait_for 10 eval '[ "$(grep -c "Meldung: Seite 1 ist gescannt" "$home/kopyra.log")" -eq 2 ]' ||
        fail "Nein did not go back to the question"
    key "Mehrere Vorlagen" Return
    wait_for 30 grep -q 'Meldung: Seite 2 ist gescannt' "$home/kopyra.log" ||
        fail "not asked after page 2"
    kill -9 "$pid"
    wait "$pid" 2>/dev/null || true
    [ -e "$home/app/Kopyra-Vorlagen/seite-2.tif" ] || fail "the pages not kept"
    marker
    start
    wait_for 20 has_window "Mehrere Vorlagen" || fail "the killed Kopyra's pages not offered"
    grep -q 'Meldung: Von einer Kopie, die nicht zu Ende kam, liegen noch 2 gescannte Seiten vor.' \
        "$home/kopyra.log" || fail "not the offer's words"
    key "Mehrere Vorlagen" Return
    wait_for 60 have_new_pdf || fail "no copy of the two pages left"
    wait_for 60 jobs_done
    pdfinfo "$(new_pdf)" | grep -q "Pages: *2$" || fail "not the two pages left"
    [ ! -e "$home/app/Kopyra-Vorlagen" ] || fail "the pages left behind"
    stop

    sed -i 's/^Source=FlatbedPages$/Source=FeederBacksAfter/' "$home/config/kopyra-imaging.conf"
    start
    marker
    key "$title" Return
    wait_for 60 has_window "Mehrere Vorlagen" || fail "not asked to turn the stack over"
    grep -q 'Meldung: Die Vorderseiten sind gescannt. Stapel umdrehen, wieder einlegen und „Weiter“ drücken.$' \
        "$home/kopyra.log" || fail "not the copier's words for the backs"
    key "Mehrere Vorlagen" Return
    wait_for 120 have_new_pdf || fail "no copy of fronts and backs"
    wait_for 60 jobs_done
    pdfinfo "$(new_pdf)" | grep -q "Pages: *20$" || fail "not twenty pages: $(pdfinfo "$(new_pdf)" | grep Pages)"
    stop
}

# Where one Kopyra cannot be decided (the runtime folder a file, the cache folder open to
# everyone) Kopyra starts all the same, says why in the line over the page, and a second start
# opens a second window.
scenario_starts_alone() {
    fresh "starts alone"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    touch "$home/runtime-file"
    mkdir -p "$home/cache/kopyra"
    chmod 0777 "$home/cache/kopyra"
    XDG_RUNTIME_DIR=$home/runtime-file start
    grep -q 'ist kein Ordner' "$home/kopyra.log" || fail "the runtime file not told as such"
    grep -q 'Ein weiterer Start öffnet daher ein weiteres Kopyra-Fenster' "$home/kopyra.log" ||
        fail "not told why it runs alone"
    local first=$pid
    XDG_RUNTIME_DIR=$home/runtime-file launch
    wait_for 20 eval '[ "$(xdotool search --onlyvisible --name "^$title\$" | wc -l)" -ge 2 ]' ||
        fail "no second window"
    stop
    pid=$first
    stop
}

# A blind user's copy: Kopyra on a session bus of its own with the accessibility bus, found by a
# screen reader's library (pyatspi) over AT-SPI: the copy button by its name, pressed through
# its action, and the feedback line read after the copy.
scenario_screen_reader() {
    fresh "screen reader"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    ln -sfn "$CUPS_SERVER" "$home/cups.sock"
    marker
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        CUPS_SERVER=$home/cups.sock SANE_CONFIG_DIR=$src/tests/sane/local \
        QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
        dbus-run-session -- bash -c '"$1" >"$2/kopyra.log" 2>&1 & kopyra=$!
            /usr/bin/python3 "$3" 90 >"$2/screen_reader.log" 2>&1; status=$?
            kill $kopyra; wait $kopyra; exit $status' \
        _ "$home/app/kopyra" "$home" "$src/tests/e2e/screen_reader.py" >"$home/dbus.log" 2>&1 ||
        fail "over AT-SPI: $(cat "$home/screen_reader.log" "$home/dbus.log")"
    sed 's/^/   /' "$home/screen_reader.log"
    grep -q '^feedback: Kopie an „KopyraPDF“ gesendet (1 Seite)' "$home/screen_reader.log" ||
        fail "not the feedback line: $(cat "$home/screen_reader.log")"
    wait_for 60 have_new_pdf || fail "no copy from the button pressed over AT-SPI"
    wait_for 60 jobs_done
}

# The original type chosen in the real "Optionen" by keyboard alone (Alt+R, then Home/End/Down),
# a grainy letter on grey paper (200) with a bar of text (20) from the fault scanner: as scanned
# for "Foto", the paper printed white for "Text und Foto", the text black for "Text". Prints
# "paper text" of the new copy's page, the means of 10 × 10 pixels at 5 mm and in its middle.
copied_levels() {
    local f=$home/levels
    pdftoppm -r 100 -gray -singlefile "$(new_pdf)" "$f"
    echo "$(convert "$f.pgm" -crop 10x10+15+15 -format '%[fx:int(255*mean+0.5)]' info:)" \
        "$(convert "$f.pgm" -crop 10x10+74+74 -format '%[fx:int(255*mean+0.5)]' info:)"
}
# In the real "Optionen", by keyboard alone: the access key, the keys in the box it reaches,
# Return; waits until the settings file holds the choice.
options_choose() { # access key, keys, the line stored
    key "$title" alt+o
    wait_for 20 has_window "Optionen – Scan-Einstellungen" || fail "no Optionen"
    sleep 0.5 # the dialog's first layout and focus
    key "Optionen – Scan-Einstellungen" "$1"
    # shellcheck disable=SC2086
    xdotool key $2 Return
    wait_for 10 no_window "Optionen – Scan-Einstellungen" || fail "Optionen stayed"
    wait_for 5 grep -q "^$3\$" "$home/config/kopyra-imaging.conf" || fail "$3 not stored"
}
scenario_original_type() {
    fresh "original type"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0' 'ExtView=1'
    sed -i 's/^Name=test:0$/Name=fault:0/; s/^Resolution=150$/Resolution=100/' \
        "$home/config/kopyra-imaging.conf"
    printf '[DeviceOptions]\nfault_3A0\\paper=200\n' >>"$home/config/kopyra-imaging.conf"
    start
    local choice keys levels paper text
    for choice in Foto "Text und Foto" Text; do
        case $choice in Foto) keys=End ;; Text) keys="Home Down" ;; *) keys=Home ;; esac
        options_choose alt+r "$keys" \
            "Original=$([ "$choice" = Foto ] && echo Photo || { [ "$choice" = Text ] && echo Text || echo Mixed; })"
        marker
        press_copy
        wait_for 60 have_new_pdf || fail "no copy as \"$choice\""
        wait_for 60 jobs_done
        levels=$(copied_levels)
        read -r paper text <<<"$levels"
        echo "   $choice: paper $paper, text $text"
        case $choice in
        Foto) [ "$paper" -ge 197 ] && [ "$paper" -le 203 ] || fail "Foto: paper $paper, not as scanned" ;;
        Text) [ "$paper" -ge 250 ] && [ "$text" -le 30 ] || fail "Text: $levels" ;;
        *) [ "$paper" -ge 250 ] && [ "$text" -le 60 ] || fail "Text und Foto: $levels" ;;
        esac
    done
    stop
}

# A book copy chosen in the real "Optionen" by keyboard alone (Alt+V, End: "Buch (zwei Seiten)"),
# copied by Return after the next start: the fault scanner's open book becomes two sheets, the
# left page first, each upright at true size: its heading dark 26 mm below the sheet's top, the
# paper below its last line and the spine's side white. Prints the means of 2 × 2 mm (100 dpi).
mean_at() { # page, x mm, y mm
    pdftoppm -r 100 -gray -singlefile -f "$1" -l "$1" "$(new_pdf)" "$home/sheet"
    convert "$home/sheet.pgm" -crop "8x8+$(($2 * 1000 / 254))+$(($3 * 1000 / 254))" \
        -format '%[fx:int(255*mean+0.5)]' info:
}
scenario_book() {
    fresh "book"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0' 'ExtView=1'
    sed -i 's/^Name=test:0$/Name=fault:0/; s/^Resolution=150$/Resolution=50/' \
        "$home/config/kopyra-imaging.conf"
    printf '[DeviceOptions]\nfault_3A0\\book=1\n' >>"$home/config/kopyra-imaging.conf"
    start
    options_choose alt+v End Source=Book
    stop
    start
    marker
    key "$title" Return
    wait_for 60 have_new_pdf || fail "no copy of the book"
    wait_for 60 jobs_done
    pdfinfo "$(new_pdf)" | grep -q "Pages: *2$" || fail "not two sheets: $(pdfinfo "$(new_pdf)" | grep Pages)"
    local heading paper spine
    heading=$(mean_at 1 50 25) paper=$(mean_at 1 50 199) spine=$(mean_at 1 152 100)
    echo "   left page: heading $heading, paper $paper, spine $spine"
    [ "$heading" -le 60 ] && [ "$paper" -ge 245 ] && [ "$spine" -ge 245 ] || fail "not the left page upright"
    heading=$(mean_at 2 30 25) spine=$(mean_at 2 2 100)
    echo "   right page: heading $heading, spine $spine"
    [ "$heading" -le 60 ] && [ "$spine" -ge 245 ] || fail "not the right page upright"
    no_window Kopyra || fail "a box after the book's copy"
    stop
}

# "Rand löschen" 10 mm chosen in the real "Optionen" by keyboard (Alt+L, Down Down): on the test
# scanner's grid the square at 10–20 mm across the top is erased where it lies in the border
# (5 mm down) and kept black below it (25 mm across, 15 mm down).
scenario_edge_erase() {
    fresh "edge erase"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0' 'ExtView=1'
    start
    options_choose alt+l "Down Down" EdgeErase=10
    copy_arrives "with the border erased"
    local border kept
    border=$(mean_at 1 15 4) kept=$(mean_at 1 25 15)
    echo "   the border $border, the grid inside $kept"
    [ "$border" -ge 245 ] && [ "$kept" -le 60 ] || fail "not the border erased"
    stop
}

# The page bar over the image area ("Seite 2 von 10"), as a checksum of its pixels.
page_bar() {
    eval "$(xdotool getwindowgeometry --shell "$(window "$title")")"
    /usr/bin/import -window root -crop "250x24+$((X + 8))+$((Y + 8))" rgb:- 2>/dev/null | md5sum
}

# The program started once more, as the desktop or a shortcut starts it; its exit status.
start_again() { # [--kopieren]
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        CUPS_SERVER=$home/cups.sock SANE_CONFIG_DIR=$src/tests/sane/local \
        timeout 20 "$home/app/kopyra" "$@" >>"$home/again.log" 2>&1
}
kopyras() { pgrep -c -f "^$home/app/kopyra\$|^$home/app/kopyra " || true; }
# Whether the main window is in front of the info window (xwininfo lists the top one first).
main_in_front() {
    xwininfo -root -children | grep -m1 -o "\"$title\"\|\"Info über Kopyra\"" | grep -q "$title"
}

# A copy from outside the window: `kopyra --kopieren` copies in the Kopyra that runs (no second
# one, no second window), or starts Kopyra, which copies; a second plain start brings the
# first window forward, in front of the info window, which keeps a copy from beginning.
scenario_from_outside() {
    fresh "from outside"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0' 'ExtView=1'
    ln -sfn "$CUPS_SERVER" "$home/cups.sock"
    marker
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
        CUPS_SERVER=$home/cups.sock SANE_CONFIG_DIR=$src/tests/sane/local \
        "$home/app/kopyra" --kopieren >"$home/kopyra.log" 2>&1 &
    pid=$!
    wait_for 20 has_window "$title" || fail "--kopieren started no Kopyra"
    wait_for 60 have_new_pdf || fail "no copy from the start with --kopieren"
    wait_for 60 jobs_done
    key "$title" alt+i
    wait_for 10 has_window "Info über Kopyra" || fail "no info window"
    ! main_in_front || fail "the info window not in front"
    start_again || fail "the second plain start failed"
    wait_for 5 main_in_front || fail "the second start did not bring the window forward"
    [ "$(kopyras)" = 1 ] || fail "$(kopyras) Kopyras run"
    [ "$(xdotool search --onlyvisible --name "^$title\$" | wc -l)" = 1 ] || fail "a second window"
    # While a dialog of Kopyra's is open (the info window is one), a copy is not begun.
    # ... and `kopyra --kopieren` says so and fails.
    marker
    ! start_again --kopieren || fail "--kopieren behind the info window said it copied"
    grep -q "Keine Kopie begonnen: In Kopyra ist ein Dialog offen." "$home/again.log" ||
        fail "--kopieren behind the info window gave no reason: $(cat "$home/again.log")"
    sleep 3
    [ -z "$(new_pdf)" ] || fail "a copy begun behind the info window"
    key "Info über Kopyra" alt+s
    wait_for 10 no_window "Info über Kopyra" || fail "info stayed"
    start_again --kopieren || fail "--kopieren to the running Kopyra failed"
    wait_for 60 have_new_pdf || fail "no copy in the running Kopyra"
    wait_for 60 jobs_done
    [ "$(find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker" | wc -l)" = 1 ] ||
        fail "not one copy"
    [ "$(kopyras)" = 1 ] || fail "$(kopyras) Kopyras run after --kopieren"
    stop
}

# The fault scanner's own buttons ("copy", "scan"), pressed through the file it reads them from.
press_button() { echo "$1" >"$home/press"; }
copies_since_marker() { find "$KOPYRA_TEST_PDF_DIR" -name '*.pdf' -newer "$home/marker" | wc -l; }

# "Taste am Scanner startet eine Kopie": a press of the scanner's copy button makes one copy
# through cupsd, the window brought forward; pressed again while the page is scanned, still one;
# the switch off, nothing.
scenario_scanner_button() {
    fresh "scanner button"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0'
    fault_scanner Default
    printf 'fault_3A0\\read-pause=15\n' >>"$home/config/kopyra-imaging.conf"
    sed -i 's/^Paper=A4$/Paper=A4\nStartButton=1/' "$home/config/kopyra-imaging.conf"
    export KOPYRA_FAULT_PRESS=$home/press
    start "$src/tests/sane/fault:$src/tests/sane/local"
    marker
    press_button copy
    wait_for 20 has_window Scannen || fail "the button started no scan"
    press_button copy
    wait_for 60 have_new_pdf || fail "no copy from the scanner's button"
    wait_for 60 jobs_done
    sleep 3
    [ "$(copies_since_marker)" = 1 ] || fail "$(copies_since_marker) copies from two presses"
    grep -q 'Kopie an „KopyraPDF“ gesendet (1 Seite)' "$home/kopyra.log" || fail "no word of the copy"
    stop
    sed -i 's/^StartButton=1$/StartButton=0/' "$home/config/kopyra-imaging.conf"
    start "$src/tests/sane/fault:$src/tests/sane/local"
    marker
    press_button copy
    sleep 3
    [ -z "$(new_pdf)" ] && no_window Scannen || fail "a copy with the switch off"
    ! pgrep -P "$pid" kopyra-scanner >/dev/null || fail "the scanner opened with the switch off"
    stop
    unset KOPYRA_FAULT_PRESS
}

start_saned() { # [SANE configuration folders]
    SANE_CONFIG_DIR=${1:-$src/tests/sane/saned} LD_LIBRARY_PATH=$build/tests/sane-fault \
        saned -l -e -d 0 -b 127.0.0.1 -p 6566 >>"$home/saned.log" 2>&1 &
    saned=$!
    wait_for 10 bash -c 'exec 3<>/dev/tcp/127.0.0.1/6566' || fail "saned does not listen"
}
# saned and the child that serves a connection.
signal_saned() { # signal
    pkill "-$1" -P "$saned" 2>/dev/null || true
    kill "-$1" "$saned" 2>/dev/null || true
}
stop_saned() {
    signal_saned CONT
    signal_saned KILL
    wait "$saned" 2>/dev/null || true
    saned=
}
# The fault scanner behind saned, a row every 0.1 s: a page takes 12 seconds.
slow_network_scanner() {
    sed -i 's/^Name=.*/Name=net:127.0.0.1:fault:0/' "$home/config/kopyra-imaging.conf"
    printf '[DeviceOptions]\nnet_3A127.0.0.1_3Afault_3A0\\read-pause=100\n' >>"$home/config/kopyra-imaging.conf"
    stop_saned
    start_saned "$src/tests/sane/fault:$src/tests/sane/saned"
}
# A second host's saned (127.0.0.2), which the network backend also searched.
start_other_saned() {
    SANE_CONFIG_DIR=$src/tests/sane/saned saned -l -e -d 0 -b 127.0.0.2 -p 6566 \
        >>"$home/saned.log" 2>&1 &
    other_saned=$!
    wait_for 10 bash -c 'exec 3<>/dev/tcp/127.0.0.2/6566' || fail "the other saned does not listen"
}
stop_other_saned() {
    pkill -KILL -P "$other_saned" 2>/dev/null || true
    kill -KILL "$other_saned" 2>/dev/null || true
    wait "$other_saned" 2>/dev/null || true
    other_saned=
}
boxes_about() { grep -c "Meldung: .*$1" "$home/kopyra.log" || true; }
# One box about the scanner, closed; the window takes the next press.
one_box_about() { # words
    wait_for 30 has_window Kopyra || fail "no box: $1"
    [ "$(boxes_about "$1")" -eq 1 ] || fail "not one box about: $1"
    grep "Meldung: .*$1" "$home/kopyra.log" | cut -c1-140 | sed 's/^/   /'
    close_box "$1"
    wait_for 5 copy_picture_is green || fail "copy button not idle after: $1"
}

# A scanner on the network, through saned on this machine: chosen in the dialog, used; and
# what a network does to it (saned gone mid-scan, frozen mid-scan, restarted between copies)
# costs one box each, never the program, and the next copy works once saned is back.
scenario_network_scanner() {
    fresh "network scanner"
    if (exec 3<>/dev/tcp/127.0.0.1/6566) 2>/dev/null; then
        echo "   (skipped: 127.0.0.1:6566 is taken)"
        return
    fi
    start_saned
    sed -i '/^Name=/d' "$home/config/kopyra-imaging.conf"
    store 'AskBeforePrint=0' 'ShowSpecificSetup=0' 'ExtView=1'
    patience=5000
    start "$src/tests/sane/net"
    local chosen=0
    for _ in 1 2 3; do
        key "$title" alt+s
        wait_for 20 has_window "Scanner wählen" || fail "no scanner dialog"
        sleep 3 # the search over the network
        key "Scanner wählen" Return
        if wait_for 5 grep -q '^Name=net:127.0.0.1:test:0$' "$home/config/kopyra-imaging.conf"; then
            chosen=1
            break
        fi
    done
    [ $chosen -eq 1 ] || fail "network scanner not chosen"
    copy_arrives "through the network scanner"

    echo "   saned restarted between two copies"
    stop_saned
    start_saned
    copy_arrives "after saned's restart"
    [ "$(boxes_about Scanner)" -eq 0 ] || fail "a box after saned's restart"

    stop
    slow_network_scanner
    for how in KILL STOP; do
        echo "   saned ended with SIG$how mid-scan"
        # Killed, its connection closes: that is told at once, not after the patience (the
        # program's own then); stopped, it is silent and the patience is waited for.
        [ "$how" = KILL ] && patience= || patience=5000
        start "$src/tests/sane/net"
        press_copy
        wait_for 30 has_window Scannen || fail "no scan under way"
        sleep 3 # the page coming in
        signal_saned "$how"
        if [ "$how" = KILL ]; then
            wait_for 10 has_window Kopyra || fail "a closed connection waited for"
            one_box_about "Verbindung zum Scanner ist abgebrochen\|Scannertreiber ist abgestürzt"
        else
            one_box_about "Der Scanner antwortet nicht mehr"
        fi
        stop_saned
        stop
        start_saned "$src/tests/sane/fault:$src/tests/sane/saned"
    done
    # Another host's saned restarting while this scan pauses is none of its business.
    echo "   another host's saned restarted while the lamp warms up"
    patience=
    sed -i '/read-pause=100/a net_3A127.0.0.1_3Afault_3A0\\warm-up=8000' "$home/config/kopyra-imaging.conf"
    grep -q 'warm-up=8000' "$home/config/kopyra-imaging.conf" || fail "no warm-up set"
    start_other_saned
    start "$src/tests/sane/net"
    key "$title" alt+s
    wait_for 20 has_window "Scanner wählen" || fail "no scanner dialog"
    sleep 3 # the search over the network, both hosts
    key "Scanner wählen" Escape
    wait_for 10 no_window "Scanner wählen" || fail "the scanner dialog stayed"
    marker
    press_copy
    wait_for 30 has_window Scannen || fail "no scan under way"
    sleep 2
    stop_other_saned
    start_other_saned
    wait_for 40 have_new_pdf || fail "the scan ended when another host's saned restarted"
    [ "$(boxes_about Scanner)" -eq 0 ] || fail "a box when another host's saned restarted"
    wait_for 60 jobs_done
    stop
    stop_other_saned
    sed -i '/read-pause\|warm-up/d' "$home/config/kopyra-imaging.conf"
    start "$src/tests/sane/net"
    copy_arrives "once saned is back"
    stop
    patience=
    stop_saned
}

all=(first_start one_copy ask_before_print jammed network_scanner info_and_end quick_presses
    no_printer feeder damaged_settings several_originals original_type book edge_erase
    screen_reader from_outside scanner_button starts_alone)
run=("${@:-${all[@]}}")
for s in "${run[@]}"; do
    began=$SECONDS
    "scenario_$s"
    echo "   ($((SECONDS - began)) s)"
done
echo "e2e: ${#run[@]} scenarios passed"
