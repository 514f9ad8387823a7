#!/usr/bin/env bash
# Installs the Debian packages that are not installed yet: those named as
# arguments, or else those listed in scripts/debian-packages.txt (every group,
# or only those given with --groups build,servers). As root it runs apt-get;
# otherwise it prints the command.
#
# Packages are installed without starting their system services: the tests
# and the demo start nginx, tinyproxy, squid and a Kerberos KDC on loopback
# themselves, and a system-wide nginx on port 80, tinyproxy on 8888, squid on
# 3128 or KDC on 88 would be left running for nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
groups=""
if [ "${1:-}" = "--groups" ]; then
    groups=",$2,"
    shift 2
fi
if [ $# -gt 0 ]; then
    wanted=("$@")
else
    mapfile -t wanted < <(awk -v groups="$groups" '
        { sub(/#.*/, ""); gsub(/[[:space:]]/, "") }
        /^\[.*\]$/ { group = substr($0, 2, length($0) - 2); next }
        $0 != "" && (groups == "" || index(groups, "," group ",")) { print }
    ' "$here/debian-packages.txt")
fi

missing=()
for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "websetup needs these Debian packages; install them as root with:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi

# invoke-rc.d and deb-systemd-invoke ask this script whether a service may
# start; 101 says no. One that is already there is the administrator's.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\n# websetup setup-deps.sh: no services started while it installs\nexit 101\n' \
        >"$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
fi

echo "Installing ${#missing[@]} Debian packages (their services are not started): ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
echo "Updating the package lists..." >&2
apt-get update -qq
# One line per download and per package set up, so that a first run that
# takes minutes shows where it is.
apt-get install -y -q --no-install-recommends -o Dpkg::Progress-Fancy=0 "${missing[@]}" |
    awk '/^(Get:|Setting up )/ { print; fflush() }' >&2
echo "Packages installed." >&2
