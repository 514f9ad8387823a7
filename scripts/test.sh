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

build="$root/build/${sanitizer:-default}"
werror=OFF
if [ "${CI:-}" = "true" ]; then
    werror=ON
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DWEBSETUP_SANITIZER="$sanitizer" \
    -DWEBSETUP_CA_BUNDLE="$build/test-servers/ca.pem" \
    -DWEBSETUP_WERROR="$werror"
cmake --build "$build" --parallel "$(nproc)"

case "$sanitizer" in
    address)
        export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
        export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
        ;;
    thread)
        export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp"
        ;;
esac

cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "${ctest_args[@]}"
