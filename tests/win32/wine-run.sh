#!/bin/sh
# Runs one Windows program of the test build under wine, bounded in time: the
# Windows build's cross-compiling emulator. WEBSETUP_WINE names the wine
# loader and WINEPREFIX the prefix (tests/win32/run_wine_tests.sh sets both).
exec timeout --kill-after=10 "${WEBSETUP_WINE_TIMEOUT:-120}" "${WEBSETUP_WINE:-wine}" "$@"
