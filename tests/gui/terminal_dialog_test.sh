#!/usr/bin/env bash
# The terminal front end inside tmux: the progress line is redrawn in place,
# Ctrl-C asks first, "2" keeps the run going, "1" ends it. Then without a
# terminal: a line per change of percent, the last one at 100% when the
# download completes.
#   terminal_dialog_test.sh DRIVER OUTPUT_FOLDER
set -euo pipefail
driver=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
socket="websetup-term-$$"
tmux_() { tmux -L "$socket" "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true' EXIT

fail() {
    echo "FAIL: $*" >&2
    tmux_ capture-pane -p -t run >&2 || true
    exit 1
}

screen() { tmux_ capture-pane -p -t run; }

# Runs the command until it succeeds, for up to 30 s (the machine may be busy).
within_30s() {
    for _ in $(seq 300); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

shows() { screen | grep -qF -- "$1"; }

# Waits for the pane to show the text $1.
expect() { within_30s shows "$1" || fail "never shown: $1"; }

tmux_ new-session -d -s run -x 120 -y 30 \
    "env -u DISPLAY -u WAYLAND_DISPLAY LANG=en_US.UTF-8 DRIVER_STEP_MS=100 '$driver'; echo EXITED; sleep 60"
expect "WrenKit installation"
expect "Progress: 3%"
# One line redrawn in place, not a line per report.
[ "$(screen | grep -c 'Progress:')" -eq 1 ] || fail "the progress line was not redrawn in place"

tmux_ send-keys -t run C-c
expect "Do you want to stop download process?"
screen >"$out/question.txt"
progress() { screen | grep -o 'Progress: [0-9]*%' | tail -1; }
moved() { [ "$(progress)" != "$before" ]; }
before=$(progress)
tmux_ send-keys -t run 2 Enter
within_30s moved || fail "progress stood still after declining"
screen | grep -q EXITED && fail "declining ended the run"

tmux_ send-keys -t run C-c
expect "Do you want to stop download process?"
tmux_ send-keys -t run 1 Enter
expect "EXITED"
screen >"$out/ended.txt"
screen | grep -q "worker stopped" || fail "the worker was not stopped"
screen | grep -q "result=2" || fail "wrong result"

# Without a terminal on stderr: a plain line per change of percent.
env -u DISPLAY -u WAYLAND_DISPLAY LANG=ru_RU.UTF-8 DRIVER_STEP_MS=50 \
    "$driver" </dev/null >"$out/plain.out" 2>"$out/plain.err" &
pid=$!
within_30s grep -q 'Прогресс: 3%' "$out/plain.err" || true  # checked below
kill -INT "$pid"
wait "$pid" || true
grep -q '^  3%  Прогресс: 3%$' "$out/plain.err" || fail "no plain progress lines: $(head "$out/plain.err")"
grep -q '^result=2$' "$out/plain.out" || fail "an interrupt without a terminal must still end the run"

# The download completes at 52%: the last line shows the final percentage in
# both places, not the text of the last report before completion.
env -u DISPLAY -u WAYLAND_DISPLAY LANG=en_US.UTF-8 DRIVER_STEP_MS=5 \
    "$driver" --complete </dev/null >"$out/complete.out" 2>"$out/complete.err"
grep -q '^installer launched$' "$out/complete.out" || fail "the completed run launched nothing"
last=$(grep '%' "$out/complete.err" | tail -1)
[ "$last" = "100%  Progress: 100%" ] || fail "last progress line after completion: '$last'"
echo "pane captures in $out"
