#!/usr/bin/env bash
# Builds the Windows stub, build/win32/app/wrenkit-setup.exe: 32-bit, linked
# statically, needing only DLLs that Windows itself ships. Its libraries are
# built first from Debian's sources (scripts/win32-deps.sh, cached).
#
#   scripts/build-windows.sh           build the stub
#   scripts/build-windows.sh --test    and run the Windows tests under wine
#                                      (tests/win32/run_wine_tests.sh)
#
# wine runs 32-bit Windows programs through a 32-bit Linux loader. Where the
# kernel cannot start 32-bit programs, the tests run on a 64-bit build of the
# same sources (build/win64) under a 64-bit wine instead; where no wine runs
# at all, they are skipped with a message.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
test=false
case "${1:-}" in
    "") ;;
    --test) test=true ;;
    *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

werror=OFF
if [ "${CI:-}" = "true" ]; then
    werror=ON
fi

# build_windows ARCH FOLDER: configures and builds the tree for one target.
build_windows() {
    local arch=$1 build=$2
    "$root/scripts/win32-deps.sh" "$arch"
    cmake -S "$root" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -C "$root/build/win32-deps/$arch/deps.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tests/win32/wine-run.sh" \
        -DWEBSETUP_WERROR="$werror" >/dev/null
    cmake --build "$build" --parallel "$(nproc)"
}

build_windows i686 "$root/build/win32"
stub="$root/build/win32/app/wrenkit-setup.exe"
echo "Built $stub ($(stat -c %s "$stub") bytes)"

$test || exit 0

# A 96-byte 32-bit x86 Linux program that only exits: whether the kernel runs
# 32-bit programs, asked before installing 32-bit packages for nothing.
runs_32bit_programs() {
    local probe
    probe=$(mktemp)
    local elf=''
    elf+='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    elf+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'
    elf+='\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'
    # mov eax, 1; xor ebx, ebx; int 0x80: exit(0)
    elf+='\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80\x00\x00\x00'
    printf "$elf" >"$probe"
    chmod +x "$probe"
    local status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return $status
}


# The Linux packages of the test servers and the X session, then wine and the
# locales the screenshots are taken in.
"$root/scripts/setup-deps.sh"
"$root/scripts/setup-deps.sh" wine wine64 locales
if runs_32bit_programs; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        apt-get update -qq
    fi
    "$root/scripts/setup-deps.sh" wine32:i386
fi
missing_locales=false
for locale in en_US ru_RU; do
    locale -a | grep -qx "$locale.utf8" && continue
    sed -i "s/^# *\($locale.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    missing_locales=true
done
$missing_locales && locale-gen >/dev/null

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    export WEBSETUP_WINE=/usr/lib/wine/wine WINEARCH=win32
    tested="$root/build/win32"
elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    echo "This kernel cannot run 32-bit programs, so neither can wine: the Windows tests" \
        "run on a 64-bit build of the same sources." >&2
    export WEBSETUP_WINE=/usr/lib/wine/wine64 WINEARCH=win64
    tested="$root/build/win64"
    build_windows x86_64 "$tested"
else
    echo "SKIPPED: wine cannot run on this machine; the Windows tests were not run." >&2
    exit 0
fi

# The Linux stub and the stamping tool, for the reference command lines.
linux="$root/build/default"
if [ ! -f "$linux/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DWEBSETUP_CA_BUNDLE="$linux/test-servers/ca.pem" >/dev/null
fi
cmake --build "$linux" --parallel "$(nproc)" --target websetup-stamp wrenkit-setup-e2e

"$root/tests/win32/run_wine_tests.sh" "$tested" "$linux"
