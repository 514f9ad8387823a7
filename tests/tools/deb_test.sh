#!/usr/bin/env bash
# deb_test.sh BUILD_DIR: builds the Debian package of a built tree with cpack,
# checks its control fields and contents, installs it into this machine with
# dpkg, runs what it installed (both tools' --version, a stamp of the
# installed stub, `man -l` of every page) and removes it again.
#
# It changes the machine, so it runs only as root (CI runs it on a
# throwaway machine, .ci/run); as anyone else it is skipped with a message.
set -euo pipefail

build=$(cd "$1" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the package test installs into the machine and runs only as root" >&2
    exit 0
fi
if dpkg-query -W -f='${Status}' websetup 2>/dev/null | grep -q "installed"; then
    fail "a websetup package is installed already; remove it (dpkg -r websetup) and run again"
fi

work=$(mktemp -d)
installed=false
cleanup() {
    if $installed; then dpkg -r websetup >/dev/null || echo "could not remove websetup" >&2; fi
    rm -rf "$work"
}
trap cleanup EXIT

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1) ||
    fail "cpack failed:"$'\n'"$(tail -n 20 "$work/cpack.log")"
debs=("$work"/websetup_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single websetup_*.deb"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ "$(field Package)" = websetup ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version $(field Version), project $version"
[ -n "$(field Maintainer)" ] || fail "no maintainer"
[ -n "$(field Description)" ] || fail "no description"
# dpkg-shlibdeps finds at least libc and libcurl.
for library in libc6 libcurl4; do
    grep -q "\b$library\b" <<<"$(field Depends)" || fail "Depends lacks $library: $(field Depends)"
done

stub=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep '^\./usr/lib/.*websetup/[^/]\+$' || true)
[ -n "$stub" ] || fail "no stub under /usr/lib/.../websetup/ in:"$'\n'"$(dpkg-deb -c "$deb")"
stub=${stub#.}
stub_name=$(basename "$stub")

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg -i failed:"$'\n'"$(cat "$work/dpkg.log")"
installed=true
for tool in websetup-stamp websetup-fetch websetup-publish; do
    [ "$(command -v "$tool")" = "/usr/bin/$tool" ] || fail "$tool is not /usr/bin/$tool"
    [ "$("/usr/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version is wrong"
done
/usr/bin/websetup-stamp "$stub" -o "$work/stamped" partnerId=42 >/dev/null ||
    fail "the installed websetup-stamp cannot stamp the installed stub $stub"
/usr/bin/websetup-stamp --show "$work/stamped" | grep -q "partnerId=42" ||
    fail "the stamped copy of the installed stub does not show its setting"
for page in websetup-stamp websetup-fetch websetup-publish "$stub_name"; do
    file=/usr/share/man/man1/$page.1.gz
    [ -f "$file" ] || file=/usr/share/man/man1/$page.1
    [ -f "$file" ] || fail "$page.1 is not installed in /usr/share/man/man1"
    text=$(MANWIDTH=80 man -l "$file" 2>"$work/man.err") || fail "man -l $file failed"
    [ ! -s "$work/man.err" ] || fail "man -l $file warns:"$'\n'"$(cat "$work/man.err")"
    grep -q "EXIT STATUS" <<<"$text" || fail "$page.1 shows no EXIT STATUS section"
done

dpkg -r websetup >/dev/null
installed=false
for file in /usr/bin/websetup-stamp /usr/bin/websetup-fetch /usr/bin/websetup-publish "$stub"; do
    [ ! -e "$file" ] || fail "$file is left after dpkg -r"
done
echo "built $(basename "$deb"), installed it, ran its tools, stub and pages, removed it"
