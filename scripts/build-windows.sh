#!/usr/bin/env bash
# Builds the Windows stub, build/win32/app/wrenkit-setup.exe: 32-bit, linked
# statically, needing only DLLs that Windows itself ships. Its libraries are
# built first from Debian's sources (scripts/win32-deps.sh, cached).
#
#   scripts/build-windows.sh           build the stub
#   scripts/build-windows.sh --test    and run the Windows tests under wine
#                                      (tests/win32/run_wine_tests.sh)
#   scripts/build-windows.sh -DNAME=VALUE ...   build settings for the
#                                      configure, with or without --test,
#                                      e.g. -DWEBSETUP_EXECUTION_LEVEL=asInvoker
#
# Settings given with -D stay in the build tree's cache for later runs, as
# with cmake itself.
#
# wine runs 32-bit Windows programs through a 32-bit Linux loader; a kernel
# that cannot start 32-bit programs gets an emulator for them first
# (scripts/enable-i386-programs.sh). Where neither works, the tests are
# skipped with a message.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: $0 [--test] [-DNAME=VALUE ...]"
test=false
configure_args=()
if [ "${CI:-}" = "true" ]; then
    configure_args+=(-DWEBSETUP_WERROR=ON)
fi
while [ $# -gt 0 ]; do
    case "$1" in
        --test) test=true ;;
        -D?*) configure_args+=("$1") ;;
        -D) [ $# -gt 1 ] || { echo "$usage" >&2; exit 2; }
            configure_args+=("-D$2"); shift ;;
        -h | --help) echo "$usage"; sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "$0"; exit 0 ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
    shift
done

"$root/scripts/win32-deps.sh"
# The "windows" preset (CMakePresets.json) builds in build/win32; the
# libraries just built come as an initial cache, which a preset cannot name.
cd "$root"
cmake --preset windows -C "$root/build/win32-deps/i686/deps.cmake" "${configure_args[@]}" >/dev/null
cmake --build --preset windows --parallel "$(nproc)"
stub="$root/build/win32/app/wrenkit-setup.exe"
echo "Built $stub ($(stat -c %s "$stub") bytes)"

$test || exit 0

# The Linux packages of the test servers and the X session, then wine (its
# 64-bit server spares the emulator work where 32-bit programs are emulated)
# and the locales the screenshots are taken in.
"$root/scripts/setup-deps.sh"
"$root/scripts/setup-deps.sh" wine wine64 locales
if ! "$root/scripts/enable-i386-programs.sh"; then
    echo "SKIPPED: wine cannot start 32-bit programs here; the Windows tests were not run." >&2
    exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    apt-get update -qq
fi
"$root/scripts/setup-deps.sh" wine32:i386
missing_locales=false
for locale in en_US ru_RU; do
    locale -a | grep -qx "$locale.utf8" && continue
    sed -i "s/^# *\($locale.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    missing_locales=true
done
$missing_locales && locale-gen >/dev/null
export WEBSETUP_WINE=/usr/lib/wine/wine WINEARCH=win32

# The Linux stub and the stamping tool, for the reference command lines.
linux="$root/build/default"
if [ ! -f "$linux/CMakeCache.txt" ]; then
    cmake --preset default >/dev/null
fi
cmake --build --preset default --parallel "$(nproc)" --target websetup-stamp wrenkit-setup-e2e

"$root/tests/win32/run_wine_tests.sh" "$root/build/win32" "$linux"
