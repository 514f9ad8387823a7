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

source "$here/../gui/xsession.sh"
start_xsession "$out"
cleanup() {
    "$WEBSETUP_WINE" wineboot --end-session >/dev/null 2>&1 || true
    if [ -f "$out/servers/supervisor.pid" ]; then
        python3 "$root/tests/servers/test_servers.py" stop "$out/servers" >/dev/null 2>&1 || true
    fi
    xsession_cleanup
}
trap cleanup EXIT

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
