#!/usr/bin/env bash
# Runs the Windows tests under wine inside a private X display (Xvfb and
# openbox): the unit tests of the Windows build tree (ctest, each program
# through wine-run.sh), then the smoke tests of the stub against the local
# test servers (wine_smoke_test.sh).
#
#   run_wine_tests.sh WINDOWS_BUILD LINUX_BUILD
#
# WEBSETUP_WINE names the wine loader and WINEARCH its prefix kind
# (scripts/build-windows.sh chooses them). The prefix lives in the build tree.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
: "${WEBSETUP_WINE:?}" "${WINEARCH:?}"

export WINEPREFIX="$build/wine"
# No downloads of wine's .NET and browser engines, no debug chatter.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
out="$build/wine-tests"
rm -rf "$out"
mkdir -p "$out"

pids=()
cleanup() {
    "$WEBSETUP_WINE" wineboot --end-session >/dev/null 2>&1 || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -f "$out/servers/supervisor.pid" ]; then
        python3 "$root/tests/servers/test_servers.py" stop "$out/servers" >/dev/null 2>&1 || true
    fi
    wait 2>/dev/null || true
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to descriptor 3.
: >"$out/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do
    [ -s "$out/display" ] && break
    sleep 0.1
done
[ -s "$out/display" ] || { echo "Xvfb did not start: $(cat "$out/xvfb.log")" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$out/display")"
openbox >"$out/openbox.log" 2>&1 &
pids+=($!)

start=$(date +%s)
# A prefix whose set-up was cut short has its registry files already, so
# only a mark written after a complete set-up lets one be used again.
ready="$WINEPREFIX/.websetup-ready"
if [ ! -f "$ready" ]; then
    rm -rf "$WINEPREFIX"
    timeout 600 "$WEBSETUP_WINE" wineboot --init >"$out/wineboot.log" 2>&1 &&
        timeout 300 "$(dirname "$WEBSETUP_WINE")/wineserver" --wait || {
        echo "wineboot failed: $(tail -n 20 "$out/wineboot.log")" >&2
        exit 1
    }
    touch "$ready"
fi
echo "wine prefix ready in $(($(date +%s) - start)) s"

(cd "$build" && ctest --output-on-failure --parallel "$(nproc)")

python3 "$root/tests/servers/test_servers.py" start "$out/servers" >/dev/null
"$here/wine_smoke_test.sh" "$build" "$linux_build" "$out/servers/servers.env" "$out/smoke"
echo "Windows tests finished in $(($(date +%s) - start)) s"
