#!/usr/bin/env bash
# Lints the project's own C++ sources; any finding fails.
#
#   scripts/lint.sh           clang-tidy (the checks in .clang-tidy) over the
#                             sources of build/default, then clang-format's
#                             layout (.clang-format) over every tracked .cpp/.h
#   scripts/lint.sh --format  the layout alone (no build tree needed)
#
# clang-tidy reads build/default/compile_commands.json; a tree that has none
# yet is configured with the default preset first (no build is needed: the
# generated sources are written at configure time). Windows-only sources are
# not in that database and are left to the compiler's warnings in the
# Windows build.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tidy=true
case "${1:-}" in
    "") ;;
    --format) tidy=false ;;
    *) echo "usage: $0 [--format]" >&2; exit 2 ;;
esac

cd "$root"
if $tidy; then
    # Configuring needs what the build and the tests' CMake files look for.
    scripts/setup-deps.sh --groups build,servers,test,lint
    build="$root/build/default"
    if [ ! -f "$build/compile_commands.json" ]; then
        cmake --preset default >/dev/null
    fi
    # The project's own folders only: not the generated sources in build/.
    folders="app|bench|downloader|net|platform|resources|setup|tests|text|tools|verify"
    start=$(date +%s)
    echo "clang-tidy over $build/compile_commands.json" >&2
    # run-clang-tidy always asks for colours; the log is for reading.
    status=0
    run-clang-tidy -p "$build" -j "$(nproc)" -quiet "^$root/($folders)/" 2>&1 |
        sed 's/\x1b\[[0-9;]*m//g' >"$build/clang-tidy.log" || status=$?
    [ "$status" -eq 0 ] || {
        grep -E -A3 '(warning|error):' "$build/clang-tidy.log" >&2 ||
            tail -n 40 "$build/clang-tidy.log" >&2
        echo "clang-tidy found problems (all of its output: $build/clang-tidy.log)" >&2
        exit 1
    }
    echo "clang-tidy: no findings ($(($(date +%s) - start)) s)" >&2
else
    scripts/setup-deps.sh --groups lint
fi

git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "clang-format: every tracked .cpp and .h is laid out as .clang-format says" >&2
