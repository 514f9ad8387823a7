#!/usr/bin/env bash
# The whole program end to end, on this machine only: starts a local HTTPS
# nginx with a test CA serving a sample installer (a script that shows the
# arguments it received), builds a demo stub whose catalogue address points
# at it, stamps it with sample partner and campaign settings, runs it (in a
# window when a display exists, in the terminal otherwise) and shows what the
# installer received.
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

section "Starting a local HTTPS server with a test CA"
rm -rf "$demo"
mkdir -p "$demo"
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

# The sample installer: a script that shows its command line and writes it
# where this demo can show it afterwards. It is padded past two download
# parts, and served at 64 KiB/s per request, so that the progress shows.
received="$demo/installer-received.txt"
mkdir -p "$served/app"
{
    cat <<'EOF'
#!/bin/sh
# WrenKit sample installer: shows the command line it was started with.
out="${WEBSETUP_DEMO_RECEIVED:-/dev/stdout}"
{
    echo "sample installer: $0"
    echo "arguments: $#"
    for argument in "$@"; do printf '  [%s]\n' "$argument"; done
} > "$out.tmp" && mv "$out.tmp" "$out"
exit 0
EOF
    head -c 1100000 /dev/zero | tr '\0' '#'
    echo
} >"$served/app/download"
echo "sample installer: $(stat -c %s "$served/app/download") bytes at /slow/app/download"

section "Building the demo stub in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_BUILD_TESTS=OFF \
    -DWEBSETUP_DOWNLOAD_HOST="https://127.0.0.1:$https_port/slow" \
    -DWEBSETUP_PROBE_URL="http://127.0.0.1:$http_port/files/1.bin" \
    -DWEBSETUP_CA_BUNDLE="$(setting CA_PEM)" >/dev/null
cmake --build "$build" --parallel "$(nproc)"

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
WEBSETUP_DEMO_RECEIVED="$received" "$stub"

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
