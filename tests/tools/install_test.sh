#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR: `cmake --install` into a fresh prefix
# installs the tools, runnable, and their manual pages and the stub's, which
# groff renders without a warning.
set -euo pipefail

cmake=$1
build=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
# GNUInstallDirs' defaults for a prefix outside /usr and /opt.
for tool in websetup-stamp websetup-fetch websetup-publish; do
    [ -x "$prefix/bin/$tool" ] || fail "$tool not installed in bin/"
    version=$("$prefix/bin/$tool" --version) || fail "$tool --version failed"
    [[ "$version" =~ ^$tool\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "$tool --version printed: $version"
done
for tool in websetup-stamp websetup-fetch websetup-publish wrenkit-setup; do
    page="$prefix/share/man/man1/$tool.1"
    [ -f "$page" ] || fail "$tool.1 not installed in share/man/man1/"
    if command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff failed on $tool.1: $warnings"
        [ -z "$warnings" ] || fail "groff warns about $tool.1:"$'\n'"$warnings"
        text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
        grep -q "EXIT STATUS" <<<"$text" || fail "$tool.1 has no EXIT STATUS section"
    else
        echo "groff not found: the pages' rendering was not checked" >&2
    fi
done
unexpected=$(cd "$prefix" && find . -type f ! -path ./bin/websetup-stamp ! -path ./bin/websetup-fetch \
    ! -path ./bin/websetup-publish \
    ! -path ./share/man/man1/websetup-stamp.1 ! -path ./share/man/man1/websetup-fetch.1 \
    ! -path ./share/man/man1/websetup-publish.1 \
    ! -path ./share/man/man1/wrenkit-setup.1)
[ -z "$unexpected" ] || fail "installed beyond the tools and their pages:"$'\n'"$unexpected"
echo "installed and rendered the tools and their pages"
