#!/usr/bin/env bash
# The whole program end to end, on this machine only: starts a local HTTPS
# nginx with a test CA serving a sample installer (a script that shows the
# arguments it received) with its Repr-Digest and its minisign signature,
# builds a demo stub whose catalogue address points at it and which pins the
# demo publisher's key, stamps it with sample partner and campaign settings,
# runs it (in a window when a display exists, in the terminal otherwise) and
# shows what the stub verified and what the installer received.
#
# nginx listens on fixed loopback ports (WEBSETUP_DEMO_PORT, default 47080,
# and the next three): they are built into the demo stub, so a rerun rebuilds
# nothing.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build/demo"
demo="$build/demo"
servers="$demo/servers"
base_port=${WEBSETUP_DEMO_PORT:-47080}

section() { printf '\n=== %s ===\n' "$1"; }

section "Installing what the demo needs"
"$root/scripts/setup-deps.sh" --groups build,servers
echo "Done."

section "Preparing the sample installer and its publisher's key"
rm -rf "$demo"
mkdir -p "$demo" "$servers"
# The sample installer: a script that shows its command line and writes it
# where this demo can show it afterwards. It is padded past two download
# parts, and served at 64 KiB/s per request, so that the progress shows.
received="$demo/installer-received.txt"
sample="$demo/sample-installer"
{
    cat <<'EOF'
#!/bin/sh
# WrenKit sample installer: shows the command line it was started with.
out="${WEBSETUP_DEMO_RECEIVED:-/dev/stdout}"
{
    echo "sample installer: $(readlink -f "$0")"
    echo "arguments: $#"
    for argument in "$@"; do printf '  [%s]\n' "$argument"; done
} > "$out.tmp" && mv "$out.tmp" "$out"
exit 0
EOF
    head -c 1100000 /dev/zero | tr '\0' '#'
    echo
} >"$sample"
# The publisher's key stays with the build that pins it, so that a rerun
# rebuilds nothing; the demo signs with it as a distributor would.
key="$build/demo-publisher"
mkdir -p "$build"
if [ ! -f "$key.pub" ]; then
    minisign -G -W -p "$key.pub" -s "$key.key" >/dev/null
fi
public_key=$(sed -n 2p "$key.pub")
minisign -S -s "$key.key" -m "$sample" -x "$sample.minisig" -t "WrenKit sample installer" >/dev/null
digest=$(openssl dgst -sha256 -binary "$sample" | base64 -w0)
# nginx announces the digest with the installer (tests/servers/README.md).
printf '"/slow/app/download" "sha-256=:%s:";\n' "$digest" >"$servers/repr-digests.map"
echo "sample installer: $(stat -c %s "$sample") bytes, sha-256 $digest"
echo "signed with the demo publisher's key $public_key"

section "Starting a local HTTPS server with a test CA"
if ! python3 "$root/tests/servers/test_servers.py" start "$servers" --base-port "$base_port" \
    >"$demo/servers.log"; then
    if grep -q 'in use' "$demo/servers.log"; then
        echo "The demo's ports $base_port-$((base_port + 3)) are not free:" \
            "$(grep -o 'port [0-9]* on the loopback address is in use[^;]*' "$demo/servers.log" | head -n 1)." >&2
        echo "Run it with WEBSETUP_DEMO_PORT=<another port> scripts/demo.sh" >&2
    else
        echo "The local servers did not start; see $demo/servers.log" >&2
    fi
    exit 1
fi
stop_servers() { python3 "$root/tests/servers/test_servers.py" stop "$servers" >/dev/null 2>&1 || true; }
trap stop_servers EXIT
setting() { sed -n "s/^$1=//p" "$servers/servers.env"; }
https_port=$(setting NGINX_HTTPS_PORT)
http_port=$(setting NGINX_HTTP_PORT)
served=$(setting SERVED_DIR)
echo "nginx on https://127.0.0.1:$https_port, trusting only $(setting CA_PEM)"
mkdir -p "$served/app"
cp "$sample" "$served/app/download"
cp "$sample.minisig" "$served/app/download.minisig"
echo "serving /slow/app/download with its Repr-Digest, and its signature beside it"

section "Building the demo stub in $build"
# The "demo" preset (CMakePresets.json) builds in build/demo; the addresses,
# the CA and the publisher's key are this run's.
(
    cd "$root"
    cmake --preset demo \
        -DWEBSETUP_DOWNLOAD_HOST="https://127.0.0.1:$https_port/slow" \
        -DWEBSETUP_PROBE_URL="http://127.0.0.1:$http_port/files/1.bin" \
        -DWEBSETUP_CA_BUNDLE="$(setting CA_PEM)" -DWEBSETUP_PUBLISHER_KEY="$public_key" >/dev/null
    cmake --build --preset demo --parallel "$(nproc)"
)

section "Stamping a copy of the stub"
stamp="$build/tools/stamp/websetup-stamp"
stub="$demo/wrenkit-setup"
settings=(
    "partnerId=partner-42"
    "vid=1234"
    "contentType=3"
    "contentAddress=https://www.example.com/welcome page"
    "offerUrl=https://www.example.com/landing?utm_source=wrenkit&utm_campaign=spring"
    "silentMode=true"
    "fusionChannel=demo channel"
)
"$stamp" "$build/app/wrenkit-setup" -o "$stub" "${settings[@]}"
"$stamp" --show "$stub"

section "Running the stub"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "A window opens; it closes by itself once the installer has started."
else
    echo "No display: the stub shows its progress here (Ctrl-C asks to stop)."
fi
rm -f "$received"
log="$demo/stub.log"
WEBSETUP_DEMO_RECEIVED="$received" WEBSETUP_DOWNLOADER_LOG="$log" "$stub"

section "What the stub verified before it started the installer"
if grep -q '^installer verified: ' "$log"; then
    sed -n 's/^installer verified: /  /p' "$log"
else
    echo "Nothing: the installer was not started (see $log)."
fi

section "What the installer received"
# The installer runs detached from the stub; give it a moment to write.
for _ in $(seq 100); do
    [ -f "$received" ] && break
    sleep 0.1
done
if [ -f "$received" ]; then
    cat "$received"
    installer=$(sed -n 's/^sample installer: //p' "$received")
    echo "(the installer file has mode $(stat -c %a "$installer"); its folder" \
        "$(dirname "$installer") has mode $(stat -c %a "$(dirname "$installer")"))"
else
    echo "The installer did not run (the stub was closed, or it reported an error)."
    exit 1
fi
