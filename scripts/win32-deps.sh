#!/usr/bin/env bash
# Builds the libraries of the Windows stub (mingw-w64) from Debian's
# own sources: libcurl (static, Schannel TLS), libsodium (static, its minimal
# build: the stub checks Ed25519 signatures over BLAKE2b digests of signed
# settings blocks, and links no OpenSSL) and the compiled Boost libraries
# (static thread, filesystem, locale, and the chrono, date_time and atomic that
# CMake's Boost module links with thread). The header-only Boost parts come from
# Debian's boost headers. Everything lands in build/win32-deps/i686, one
# folder per source version, so a second run only checks what is there.
#
#   scripts/win32-deps.sh
#
# Ends by writing build/win32-deps/i686/deps.cmake, an initial cache for
# the Windows build (cmake -C).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=i686
address_model=32
triple="$arch-w64-mingw32"
deps="$root/build/win32-deps"
prefixes="$deps/$arch"
toolchain="$root/cmake/mingw-$arch.cmake"
jobs=$(nproc)

build_packages=("g++-mingw-w64-${arch//_/-}-posix" "binutils-mingw-w64-${arch//_/-}" bison dpkg-dev
    cmake ninja-build libboost-dev googletest xz-utils autoconf automake libtool)


# apt-get source needs source entries; add them for the Debian archives the
# machine already uses (same mirrors and suites), nothing else.
enable_debian_sources() {
    if apt-cache showsrc curl 2>/dev/null | grep -q '^Version:'; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "apt-get source needs deb-src entries; run this script as root" >&2
        exit 1
    fi
    local list=/etc/apt/sources.list.d/websetup-deb-src
    shopt -s nullglob
    local stanzas
    stanzas=$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
        {
            n = split($0, lines, "\n"); types = 0; debian = 0; out = ""
            for (i = 1; i <= n; i++) {
                if (lines[i] ~ /^Types:/ && lines[i] ~ /[ \t]deb([ \t]|$)/) types = 1
                if (lines[i] ~ /^URIs:/ && lines[i] ~ /debian/) debian = 1
                if (lines[i] ~ /^Enabled:[ \t]*no/) types = 0
                out = out (lines[i] ~ /^Types:/ ? "Types: deb-src" : lines[i]) "\n"
            }
            if (types && debian) printf "%s\n", out
        }' /dev/null /etc/apt/sources.list.d/*.sources)
    local lines=""
    if [ -f /etc/apt/sources.list ]; then
        lines=$(sed -n -e '/^deb[ \t].*debian/s/^deb[ \t]/deb-src /p' /etc/apt/sources.list)
    fi
    shopt -u nullglob
    [ -n "$stanzas" ] && printf '%s' "$stanzas" >"$list.sources"
    [ -n "$lines" ] && printf '%s\n' "$lines" >"$list.list"
    if [ -z "$stanzas$lines" ]; then
        echo "no Debian archive found in the apt sources" >&2
        exit 1
    fi
    apt-get update -qq
}

# The version of a library's sources as the release's binary package of it
# has it (its candidate, less a rebuild's "+bN"): the Windows build uses the
# sources of what the Linux build links, even where apt knows newer ones.
source_version() {
    apt-cache policy "$1" 2>/dev/null | sed -n -e 's/^ *Candidate: \(.*\)$/\1/p' |
        sed -e 's/+b[0-9]*$//' -e '/(none)/d'
}

# Unpacks the Debian source package (patches applied) once; prints its folder.
fetch_source() {
    local package=$1 version=$2
    local into="$deps/src/$package-$version"
    if [ ! -f "$into/.unpacked" ]; then
        rm -rf "$into"
        mkdir -p "$into"
        (cd "$into" && apt-get source -qq --only-source "$package=$version" >/dev/null 2>&1) || {
            echo "apt-get source $package=$version failed" >&2
            exit 1
        }
        touch "$into/.unpacked"
    fi
    find "$into" -mindepth 1 -maxdepth 1 -type d | head -n 1
}

# Only what the stub uses: HTTP and HTTPS through the system's TLS, no
# compression, no extra name or proxy libraries. The wide Windows calls make
# libcurl open the files it is given (the CA bundle) by their UTF-16 names,
# converted from the UTF-8 the stub passes; the ANSI calls would lose letters
# outside the code page. A library built with other options is built again.
curl_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=OFF
    -DBUILD_CURL_EXE=OFF
    -DBUILD_TESTING=OFF
    -DENABLE_MANUAL=OFF
    -DENABLE_UNICODE=ON
    -DHTTP_ONLY=ON
    -DCURL_USE_SCHANNEL=ON
    -DCURL_USE_OPENSSL=OFF
    -DCURL_USE_LIBSSH2=OFF
    -DCURL_ZLIB=OFF
    -DCURL_BROTLI=OFF
    -DCURL_ZSTD=OFF
    -DUSE_NGHTTP2=OFF
    -DUSE_LIBIDN2=OFF
    -DCURL_CA_BUNDLE=none
    -DCURL_CA_PATH=none
)

build_curl() {
    local version=$1 prefix=$2
    local source
    source=$(fetch_source curl "$version")
    local work="$deps/scratch/curl-$arch-$version"
    rm -rf "$work" "$prefix"
    mkdir -p "$deps/scratch"
    cmake -S "$source" -B "$work" -G Ninja -Wno-dev \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        "${curl_options[@]}" >"$work.log" 2>&1 || {
        tail -n 40 "$work.log" >&2
        exit 1
    }
    cmake --build "$work" --parallel "$jobs" >>"$work.log" 2>&1 &&
        cmake --install "$work" >>"$work.log" 2>&1 || {
        tail -n 40 "$work.log" >&2
        exit 1
    }
    rm -rf "$work"
}

build_sodium() {
    local version=$1 prefix=$2
    local source
    source=$(fetch_source libsodium "$version")
    local work="$deps/scratch/libsodium-$arch-$version"
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    # Debian's source carries no generated configure script.
    (cd "$work" && { [ -x "$source/configure" ] || (cd "$source" && autoreconf -fi); } &&
        "$source/configure" --host="$triple" --prefix="$prefix" --enable-minimal \
            --disable-shared --enable-static --disable-pie CC="$triple-gcc-posix" &&
        make -j"$jobs" install) >"$work.log" 2>&1 || {
        tail -n 40 "$work.log" >&2
        exit 1
    }
    rm -rf "$work"
}

build_boost() {
    local version=$1 prefix=$2
    local source
    source=$(fetch_source boost1.74 "$version")
    local work="$deps/scratch/boost-$arch-$version"
    rm -rf "$work" "$prefix"
    mkdir -p "$work"
    local log="$work.log"
    # Debian's source leaves out the engine's generated parser.
    (cd "$source/tools/build" &&
        bison -y -d -o src/engine/jamgram.cpp src/engine/jamgram.y >"$log" 2>&1) || {
        tail -n 40 "$log" >&2
        exit 1
    }
    (cd "$source" && ./bootstrap.sh --with-toolset=gcc >>"$log" 2>&1) || {
        tail -n 40 "$log" >&2
        exit 1
    }
    echo "using gcc : mingw : $triple-g++-posix ;" >"$work/user-config.jam"
    # Locale converts through the Windows API only (no ICU, no iconv on
    # the target); threads are native Windows threads.
    (cd "$source" && ./b2 -q -j"$jobs" --user-config="$work/user-config.jam" \
        --build-dir="$work" --stagedir="$prefix" --layout=system \
        --with-thread --with-filesystem --with-locale --with-chrono --with-date_time --with-atomic \
        toolset=gcc-mingw target-os=windows address-model=$address_model architecture=x86 \
        threadapi=win32 threading=multi link=static runtime-link=static variant=release \
        boost.locale.icu=off boost.locale.iconv=off boost.locale.winapi=on boost.locale.std=on \
        cxxflags=-std=c++17 stage >>"$log" 2>&1) || {
        tail -n 40 "$log" >&2
        exit 1
    }
    rm -rf "$work"
}

"$root/scripts/setup-deps.sh" "${build_packages[@]}"
enable_debian_sources
mkdir -p "$deps"

curl_version=$(source_version libcurl4-openssl-dev)
boost_version=$(source_version libboost1.74-dev)
sodium_version=$(source_version libsodium-dev)
if [ -z "$curl_version" ] || [ -z "$boost_version" ] || [ -z "$sodium_version" ]; then
    echo "apt cannot tell the curl, boost1.74 or libsodium source versions" >&2
    exit 1
fi

curl_prefix="$prefixes/curl-$curl_version"
boost_prefix="$prefixes/boost-$boost_version"
if [ "$(cat "$curl_prefix/.built" 2>/dev/null)" != "${curl_options[*]}" ]; then
    echo "Building libcurl $curl_version for $triple" >&2
    build_curl "$curl_version" "$curl_prefix"
    echo "${curl_options[*]}" >"$curl_prefix/.built"
fi
sodium_prefix="$prefixes/libsodium-$sodium_version"
if [ ! -f "$sodium_prefix/.built" ]; then
    echo "Building libsodium $sodium_version for $triple" >&2
    build_sodium "$sodium_version" "$sodium_prefix"
    touch "$sodium_prefix/.built"
fi
if [ ! -f "$boost_prefix/.built" ]; then
    echo "Building Boost $boost_version for $triple" >&2
    build_boost "$boost_version" "$boost_prefix"
    touch "$boost_prefix/.built"
fi

# The cross compiler must not see the host's /usr/include, only its boost
# tree: a folder holding nothing but that tree.
headers="$deps/boost-headers"
mkdir -p "$headers"
ln -sfn /usr/include/boost "$headers/boost"

cat >"$prefixes/deps.cmake" <<EOF
# Written by scripts/win32-deps.sh: the Windows build's libraries.
set(CMAKE_FIND_ROOT_PATH "$curl_prefix;$boost_prefix;$sodium_prefix;$headers" CACHE STRING "" FORCE)
set(CURL_DIR "$curl_prefix/lib/cmake/CURL" CACHE PATH "" FORCE)
set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "" FORCE)
set(Boost_NO_SYSTEM_PATHS ON CACHE BOOL "" FORCE)
set(Boost_USE_STATIC_LIBS ON CACHE BOOL "" FORCE)
set(Boost_INCLUDE_DIR "$headers" CACHE PATH "" FORCE)
set(Boost_LIBRARY_DIR "$boost_prefix/lib" CACHE PATH "" FORCE)
set(WEBSETUP_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "" FORCE)
EOF
