#!/usr/bin/env bash
# Makes sure this machine can start 32-bit x86 Linux programs, which wine
# needs for 32-bit Windows programs. A kernel built without them gets a
# user-mode emulator instead: qemu-i386, registered with binfmt_misc for
# 32-bit x86 programs. Debian 12's own qemu (7.2) crashes in wine's 32-bit
# loader, so the emulator comes from Debian's backports of the same release.
#
# Exits 0 when 32-bit programs run (natively or emulated), 1 when they cannot
# (not root, no binfmt_misc, no backports), saying why.
set -euo pipefail

emulator=/usr/bin/qemu-i386
entry=/proc/sys/fs/binfmt_misc/qemu-i386

# A 96-byte 32-bit x86 program that only exits with status 0.
runs_32bit_programs() {
    local probe elf='' status=0
    probe=$(mktemp)
    elf+='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    elf+='\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
    elf+='\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
    elf+='\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08'
    elf+='\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00'
    # mov eax, 1; xor ebx, ebx; int 0x80: exit(0)
    elf+='\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80\x00\x00\x00'
    printf "$elf" >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return $status
}

cannot() {
    echo "32-bit programs cannot run here: $*" >&2
    exit 1
}

# The backports suite of the Debian release, from the mirror the machine
# already uses for it. Added only for this installation (removed again on
# exit, whatever happens): other packages keep coming from the release itself.
enable_backports() {
    local list=/etc/apt/sources.list.d/websetup-backports.sources
    if apt-cache policy 2>/dev/null | grep -q " $codename-backports/main "; then
        return 0
    fi
    local mirror
    mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
        sed -n -e 's/^URIs:[[:space:]]*//p' \
            -e 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' |
        tr ' ' '\n' | grep '/debian/\?$' | head -n 1) || true
    [ -n "$mirror" ] || cannot "no Debian mirror in the apt sources"
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: %s\n' \
        "$mirror" "$codename" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
    trap 'rm -f "'"$list"'"; apt-get update -qq' EXIT
    apt-get update -qq
}

runs_32bit_programs && exit 0

[ "$(id -u)" -eq 0 ] || cannot "the kernel does not start them, and only root can add an emulator"
[ -d /proc/sys/fs/binfmt_misc ] || cannot "the kernel has neither them nor binfmt_misc"
if [ ! -f /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc ||
        cannot "binfmt_misc cannot be mounted"
fi

if ! "$emulator" --version 2>/dev/null | grep -q 'version \([89]\|[1-9][0-9]\)\.'; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || cannot "the Debian release has no code name"
    enable_backports
    echo "Installing qemu-user from $codename-backports" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -t "$codename-backports" qemu-user >/dev/null || cannot "qemu-user did not install"
fi

# Another registration for the same programs (an older emulator) is replaced.
if [ -f "$entry" ] && ! grep -qx "interpreter $emulator" "$entry"; then
    echo -1 >"$entry"
fi
if [ ! -f "$entry" ]; then
    # The magic and mask of 32-bit x86 executables and shared objects; "F"
    # opens the emulator now, so it also serves programs in other mount
    # namespaces.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    echo ":qemu-i386:M::$magic:$mask:$emulator:F" >/proc/sys/fs/binfmt_misc/register
fi

runs_32bit_programs || cannot "even through $emulator"
echo "32-bit programs run through $($emulator --version | head -n 1)" >&2
