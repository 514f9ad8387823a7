#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under AddressSanitizer+UBSan and runs
# each for a fixed time, starting from the seed corpus in tests/fuzz/corpus.
#
#   scripts/fuzz.sh              60 s per target, in build/fuzz
#   FUZZ_SECONDS=600 scripts/fuzz.sh
#
# Inputs found along the way go to build/fuzz/corpus/<target>; a crash leaves
# its input in build/fuzz/crash-* (or leak-*, timeout-*) and fails the script.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-60}"
targets=(response_header payload_info)

"$root/scripts/setup-deps.sh"

# The "fuzz" preset (CMakePresets.json) builds in build/fuzz.
cd "$root"
cmake --preset fuzz
cmake --build --preset fuzz --parallel "$(nproc)" --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
for target in "${targets[@]}"; do
    mkdir -p "corpus/$target"
    echo "== $target: $seconds s"
    "./tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "corpus/$target" "$root/tests/fuzz/corpus/$target"
done
