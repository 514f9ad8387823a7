#!/usr/bin/env bash
# Demonstrates the stamped settings block: builds websetup in build/demo,
# stamps a copy of the payload-echo test program with sample partner and
# campaign settings, and shows what websetup-stamp reports and what the
# stamped program reads from its own file.
#
# The stub itself (wrenkit-setup) opens a window and downloads an installer;
# it is not started here.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/demo"

section() { printf '\n=== %s ===\n' "$1"; }

section "Installing missing build dependencies"
"$root/scripts/setup-deps.sh"

section "Building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_BUILD_TESTS=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

stamp="$build/tools/stamp/websetup-stamp"
echo_program="$build/tests/app/payload-echo"
stamped="$build/demo/payload-echo-stamped"
mkdir -p "$build/demo"

settings=(
    "vid=1234"
    "partnerId=partner-42"
    "avastUrl=https://www.example.com/landing?utm_source=wrenkit&utm_campaign=spring sale+2"
    "silentMode=1"
    "greeting=Привет, мир"
    "fusionChannel=demo-channel"
)

section "Stamping a copy of payload-echo"
echo "payload-echo prints the settings a stub reads from its own file."
printf '%q ' "$stamp" "$echo_program" -o "$stamped" "${settings[@]}"
echo
"$stamp" "$echo_program" -o "$stamped" "${settings[@]}"
original=$(stat -c %s "$echo_program")
echo "$(basename "$stamped"): $(stat -c %s "$stamped") bytes, $original of them the unchanged program"

section "The block as stored behind the end of the file (NUL bytes shown as '.')"
tail -c "+$((original + 1))" "$stamped" | tr '\0' '.'
echo

section "websetup-stamp --show $(basename "$stamped")"
"$stamp" --show "$stamped"

section "What the stamped program reads from itself"
"$stamped"

section "The unstamped program, for comparison"
output=$("$echo_program")
echo "${output:-(no settings)}"

if cmake --build "$build" --target help | grep -q '^wrenkit-setup:'; then
    section "The stub"
    echo "wrenkit-setup is built; it is not started here because it opens a window."
    echo "Stamp it the same way: $(basename "$stamp") <stub> -o <copy> key=value ..."
fi
