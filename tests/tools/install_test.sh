#!/usr/bin/env bash
# install_test.sh CMAKE BUILD_DIR LIBDIR STUB_NAME: `cmake --install` into a
# fresh prefix installs the tools, runnable, the stub under LIBDIR/websetup,
# which the installed websetup-stamp stamps, and the manual pages of them
# all, which groff renders without a warning.
set -euo pipefail

cmake=$1
build=$2
libdir=$3
stub_name=$4
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

stub="$prefix/$libdir/websetup/$stub_name"
[ -x "$stub" ] || fail "the stub is not installed as $libdir/websetup/$stub_name"
"$prefix/bin/websetup-stamp" "$stub" -o "$prefix/stamped" partnerId=42 >/dev/null ||
    fail "the installed websetup-stamp cannot stamp the installed stub"
shown=$("$prefix/bin/websetup-stamp" --show "$prefix/stamped") || fail "--show failed: $shown"
grep -q "partnerId=42" <<<"$shown" || fail "the stamped copy does not show its setting:"$'\n'"$shown"
rm "$prefix/stamped"

for page in websetup-stamp websetup-fetch websetup-publish "$stub_name"; do
    file="$prefix/share/man/man1/$page.1"
    [ -f "$file" ] || fail "$page.1 not installed in share/man/man1/"
    if command -v groff >/dev/null; then
        warnings=$(groff -man -Tutf8 -ww -z "$file" 2>&1) || fail "groff failed on $page.1: $warnings"
        [ -z "$warnings" ] || fail "groff warns about $page.1:"$'\n'"$warnings"
        text=$(groff -man -Tutf8 -P-cbou "$file" 2>/dev/null)
        grep -q "EXIT STATUS" <<<"$text" || fail "$page.1 has no EXIT STATUS section"
    else
        echo "groff not found: the pages' rendering was not checked" >&2
    fi
done
unexpected=$(cd "$prefix" && find . -type f ! -path ./bin/websetup-stamp ! -path ./bin/websetup-fetch \
    ! -path ./bin/websetup-publish ! -path "./$libdir/websetup/$stub_name" \
    ! -path ./share/man/man1/websetup-stamp.1 ! -path ./share/man/man1/websetup-fetch.1 \
    ! -path ./share/man/man1/websetup-publish.1 ! -path "./share/man/man1/$stub_name.1")
[ -z "$unexpected" ] || fail "installed beyond the tools, the stub and their pages:"$'\n'"$unexpected"
echo "installed the tools, the stub (stamped by the installed tool) and their pages"
