#!/usr/bin/env bash
# Builds websetup and runs its whole test suite.
#
#   scripts/test.sh                      plain build in build/default
#   scripts/test.sh --sanitizer address  AddressSanitizer + UBSan, in build/address
#   scripts/test.sh --sanitizer thread   ThreadSanitizer, in build/thread
#   scripts/test.sh ... -- -L unit       extra arguments after -- go to ctest
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sanitizer=""
ctest_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --sanitizer) sanitizer="$2"; shift 2 ;;
        --sanitizer=*) sanitizer="${1#*=}"; shift ;;
        --) shift; ctest_args=("$@"); break ;;
        *) echo "usage: $0 [--sanitizer address|thread] [-- ctest arguments]" >&2; exit 2 ;;
    esac
done

"$root/scripts/setup-deps.sh"

# The presets (CMakePresets.json) hold the build settings and the sanitizers'
# run-time options; each preset builds in build/<preset>.
preset=${sanitizer:-default}
case "$preset" in
    default | address | thread) ;;
    *) echo "$0: --sanitizer takes address or thread" >&2; exit 2 ;;
esac
configure_args=()
if [ "${CI:-}" = "true" ]; then
    configure_args+=(-DWEBSETUP_WERROR=ON)
fi

cd "$root"
cmake --preset "$preset" "${configure_args[@]}"
cmake --build --preset "$preset" --parallel "$(nproc)"
ctest --preset "$preset" --parallel "$(nproc)" "${ctest_args[@]}"
