#!/usr/bin/env bash
# The GTK window under Xvfb and openbox: screenshots in English and Russian,
# the close box asks first, "No, continue" keeps the run going, "Yes" ends it;
# the error box. Screenshots stay in the output folder.
#   gtk_dialog_test.sh DRIVER OUTPUT_FOLDER
set -euo pipefail
driver=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

source "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"
start_xsession "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }

shot() { screenshot "$out/$1.png"; }

# One language: open, ask to close and decline, ask again and accept.
run_language() {
    local tag=$1 caption=$2 question=$3
    LC_ALL= LANG=$4 "$driver" >"$out/$tag.log" 2>&1 &
    local pid=$!
    pids+=($pid)
    local main
    main=$(window "$caption") || fail "$tag: no window titled $caption"
    shows_progress "$main" || fail "$tag: the bar never filled"
    shot "$tag-window"

    wmctrl -i -c "$main"
    local box
    box=$(window "$question") || fail "$tag: closing did not ask"
    drawn "$box" || fail "$tag: the question was never painted"
    shot "$tag-confirmation"
    xdotool windowactivate --sync "$box"
    xdotool key Tab Return  # the second button: continue
    gone "$question" || fail "$tag: the question stayed open"
    capture "$main" >"$out/$tag-answered.ppm"
    changed "$main" "$out/$tag-answered.ppm" || fail "$tag: progress stood still"
    kill -0 "$pid" 2>/dev/null || fail "$tag: declining ended the run"
    shot "$tag-continued"

    wmctrl -i -c "$main"
    box=$(window "$question") || fail "$tag: second close did not ask"
    xdotool windowactivate --sync "$box"
    xdotool key Return  # the default button: Yes
    ended "$pid" || fail "$tag: Yes did not end the run"
    grep -q '^worker stopped$' "$out/$tag.log" || fail "$tag: the worker was not stopped"
    grep -q '^result=2$' "$out/$tag.log" || fail "$tag: wrong result: $(cat "$out/$tag.log")"
}

run_language en "WrenKit installation" "Closing of downloader" en_US.UTF-8
run_language ru "Установка WrenKit" "Загрытие программы" ru_RU.UTF-8

# The worker's error box with the cause on a line of its own, answered with
# Enter: the dialog finishes.
error_box() {
    local lang=$1 caption=$2 locale=$3
    LC_ALL= LANG=$locale "$driver" --error >"$out/error-$lang.log" 2>&1 &
    local pid=$!
    pids+=($pid)
    local box
    box=$(window "$caption") || { wmctrl -l; shot "error-missing-$lang"; fail "no error box ($lang)"; }
    drawn "$box" || fail "the error box was never painted ($lang)"
    shot "error-box-$lang"
    xdotool windowactivate --sync "$box"
    xdotool key Return
    ended "$pid" || fail "error box: the dialog did not end ($lang)"
    grep -q '^result=1$' "$out/error-$lang.log" || fail "error box: $(cat "$out/error-$lang.log")"
    grep -q '^early task ran on the interface thread$' "$out/error-$lang.log" ||
        fail "a task posted before the modal run was lost: $(cat "$out/error-$lang.log")"
}
error_box en "Error!" en_US.UTF-8
error_box ru "Ошибка!" ru_RU.UTF-8

echo "screenshots in $out"
