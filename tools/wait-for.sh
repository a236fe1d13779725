# Sourced by the test scripts: wait_for SECONDS COMMAND... runs the command every 0.1 s until
# it succeeds; fails when the seconds are up.
wait_for() {
    local tries=$(($1 * 10)); shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# Whether an X window is mapped and viewable: focusing one that is not yet fails (BadMatch).
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"; }
