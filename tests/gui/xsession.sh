#!/usr/bin/env bash
# A private X display (Xvfb and openbox) for tests that drive a real window
# (GTK, or Win32 under wine) from outside, and the few window operations they
# need.
#
# Sourced: defines start_xsession, find_window, window, gone, ended,
# screenshot, capture, shows_progress, drawn and changed;
# start_xsession OUT exports DISPLAY and ends the session when the sourcing
# shell exits (add your own background pids to `pids` to have them ended too).
#
# Run:
#   xsession.sh serve OUT      starts a session, prints DISPLAY=:N, and ends it
#                              when its standard input closes
#   xsession.sh window TITLE   id of the window titled exactly TITLE (waits)
#   xsession.sh gone TITLE     succeeds once no window has that title (waits)
#   xsession.sh close ID       asks the window manager to close the window
#   xsession.sh keys ID KEY... activates the window and presses the keys
#   xsession.sh shot FILE      screenshot of the whole screen
#   xsession.sh shows-progress ID  succeeds once the window shows the filled
#                              part of a progress bar (waits)
#   xsession.sh drawn ID       succeeds once the window has been painted (waits)

xsession_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pids=()
xsession_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
}

# Starts Xvfb and openbox, logging into OUT. Xvfb picks the display number
# itself: tests starting at the same moment never race for one. A server of
# another test that is just ending can still remove the socket of a new one
# on the same number; openbox then cannot connect, and the session is started
# again.
start_xsession() {
    local out=$1
    trap xsession_cleanup EXIT
    # Title searches with non-ASCII text need a UTF-8 locale in the tools.
    export LC_ALL=C.UTF-8
    for _ in 1 2 3; do
        try_xsession "$out" && return 0
    done
    echo "no X session: $(cat "$out/xvfb.log" "$out/openbox.log")" >&2
    return 1
}

try_xsession() {
    local out=$1
    : >"$out/display"
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
    local xvfb=$!
    local number=""
    # Up to 30 s: the machine may be busy.
    for _ in $(seq 300); do
        number=$(head -n 1 "$out/display")
        [ -n "$number" ] && break
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$number" ]; then
        kill "$xvfb" 2>/dev/null || true
        return 1
    fi
    export DISPLAY=":$number"
    openbox --sm-disable >"$out/openbox.log" 2>&1 &
    local openbox=$!
    # Window operations need a managing window manager; it says so on the root.
    for _ in $(seq 300); do
        wmctrl -m >/dev/null 2>&1 && break
        kill -0 "$openbox" 2>/dev/null || break
        sleep 0.1
    done
    if ! wmctrl -m >/dev/null 2>&1; then
        kill "$openbox" "$xvfb" 2>/dev/null || true
        wait "$openbox" "$xvfb" 2>/dev/null || true
        return 1
    fi
    pids+=("$xvfb" "$openbox")
}

# The id of the window titled exactly $1, from the window manager's list:
# without the user's locale installed GTK sets only the UTF-8 title, which
# wmctrl reads and xdotool's title search does not.
find_window() {
    wmctrl -l | while read -r id _ _ title; do
        if [ "$title" = "$1" ]; then echo $((id)); break; fi
    done
}

# Waits up to 30 s (the machine may be busy) for a window titled $1; prints its id.
window() {
    for _ in $(seq 300); do
        local id
        id=$(find_window "$1")
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        sleep 0.1
    done
    return 1
}

# Waits up to 10 s for no window to be titled $1.
gone() {
    for _ in $(seq 100); do
        [ -z "$(find_window "$1")" ] && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to 15 s for the process $1 to end.
ended() {
    for _ in $(seq 150); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

screenshot() { import -window root "$1"; }

# The window's pixels as the screen shows them, as a binary PPM.
capture() { import -window "$1" -depth 8 ppm:- 2>/dev/null; }

# Waits up to $3 tenths of a second for window_pixels.py to say $2 of the
# window $1.
until_pixels() {
    for _ in $(seq "$3"); do
        capture "$1" | python3 "$xsession_dir/window_pixels.py" "$2" && return 0
        sleep 0.1
    done
    return 1
}

# Waits up to 30 s for the window $1 to show the filled part of a progress bar.
shows_progress() { until_pixels "$1" progress 300; }

# Waits up to 10 s for the window $1 to be painted: until then the screen
# shows there whatever was beneath it.
drawn() { until_pixels "$1" drawn 100; }

# Waits up to 10 s for the window $1 to look other than the capture in file $2.
changed() {
    local now
    now=$(mktemp)
    for _ in $(seq 100); do
        if capture "$1" >"$now" && [ -s "$now" ] && ! cmp -s "$now" "$2"; then
            rm -f "$now"
            return 0
        fi
        sleep 0.1
    done
    rm -f "$now"
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    command=$1
    shift
    case "$command" in
        serve)
            mkdir -p "$1"
            start_xsession "$1"
            trap 'exit 143' TERM HUP INT
            echo "DISPLAY=$DISPLAY"
            # Until the test closes its end, or dies; a builtin read, so that
            # a signal ends the wait at once.
            while IFS= read -r _; do :; done || true
            ;;
        window) window "$1" ;;
        gone) gone "$1" ;;
        close) wmctrl -i -c "$1" ;;
        keys)
            id=$1
            shift
            xdotool windowactivate --sync "$id" key "$@"
            ;;
        shot) screenshot "$1" ;;
        shows-progress) shows_progress "$1" ;;
        drawn) drawn "$1" ;;
        *) echo "usage: see the top of $0" >&2; exit 2 ;;
    esac
fi
