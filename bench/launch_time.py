#!/usr/bin/env python3
"""Time to launch: from starting the stub to the installer's first instruction.

Started by bench/launch, which installs the packages. It builds a Release stub
whose download host is a paced link (HTTPS/1.1, 40 ms round trip, 1 MiB/s per
connection: the `d` link of bench/run) on a fixed loopback port, and which pins
a publisher key made for the benchmark; stamps it; serves signed sample
installers with their Repr-Digest; and runs, per size and repetition:

  - the stub under strace, which stops only on execve, connect and openat
    (a seccomp filter lets every other call through untouched), to see where
    the time goes;
  - the stub alone, for the wall time without strace;
  - curl downloading the same file over one connection.

The sample installer is a bash script whose first instruction writes
$EPOCHREALTIME to a file; everything after it is padding up to the size.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import make_data  # noqa: E402
import servers as servers_mod  # noqa: E402

MIB = 1024 * 1024
STUB_TARGET = "websetup-stub"
# The file the default catalogue names the product's stub.
STUB_FILE = "wrenkit-setup"
# The catalogue's path of the product's installer; the build's download host
# replaces only scheme and host.
INSTALLER_PATH = "/app/download"
INSTALLER_HEADER = b"""#!/bin/bash
printf '%s\\n' "$EPOCHREALTIME" > "$WEBSETUP_LAUNCH_MARK"
exit 0
"""
SETTINGS = ["partnerId=bench", "vid=1", "silentMode=true"]


def log(message):
    print("launch: " + message, file=sys.stderr, flush=True)


def run_checked(argv, log_path):
    with open(log_path, "wb") as out:
        if subprocess.run(argv, stdout=out, stderr=subprocess.STDOUT).returncode != 0:
            sys.exit("launch: %s failed; see %s" % (argv[0], log_path))


def build_stub(work, port, ca_path, public_key):
    """The stub and the stamp tool, in a Release tree of their own. The link's
    port and the key are part of the build, so a rerun rebuilds nothing."""
    build = os.path.join(work, "build")
    run_checked(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                 "-DWEBSETUP_BUILD_TESTS=OFF", "-DWEBSETUP_DOWNLOAD_HOST=https://127.0.0.1:%d" % port,
                 "-DWEBSETUP_CA_BUNDLE=" + ca_path, "-DWEBSETUP_PUBLISHER_KEY=" + public_key],
                os.path.join(work, "cmake-configure.log"))
    run_checked(["cmake", "--build", build, "--target", STUB_TARGET, "websetup-stamp"],
                os.path.join(work, "cmake-build.log"))
    stub = os.path.join(work, STUB_FILE)
    run_checked([os.path.join(build, "tools", "stamp", "websetup-stamp"),
                 os.path.join(build, "app", STUB_FILE), "-o", stub] + SETTINGS,
                os.path.join(work, "stamp.log"))
    return stub


def publisher_key(work):
    key = os.path.join(work, "publisher")
    if not os.path.exists(key + ".pub"):
        run_checked(["minisign", "-G", "-W", "-p", key + ".pub", "-s", key + ".key"],
                    os.path.join(work, "minisign.log"))
    with open(key + ".pub") as f:
        return key + ".key", f.read().splitlines()[1]


def make_installer(work, size_mib, secret_key):
    """A signed sample installer of exactly size_mib MiB, and its sha-256."""
    os.makedirs(os.path.join(work, "data"), exist_ok=True)
    make_data.make(os.path.join(work, "data"), size_mib)
    path = os.path.join(work, "installer-%dM" % size_mib)
    with open(os.path.join(work, "data", make_data.file_name(size_mib)), "rb") as source, \
            open(path, "wb") as out:
        out.write(INSTALLER_HEADER)
        out.write(source.read(size_mib * MIB - len(INSTALLER_HEADER)))
    run_checked(["minisign", "-S", "-s", secret_key, "-m", path, "-x", path + ".minisig",
                 "-t", "benchmark installer"], os.path.join(work, "minisign.log"))
    digest = subprocess.run("openssl dgst -sha256 -binary %s | base64 -w0" % path, shell=True,
                            check=True, capture_output=True, text=True).stdout
    return path, digest


def serve(servers, www, installer, digest, url):
    """Puts the installer at the stub's address and has nginx announce its
    digest; returns once the server says so."""
    target = www + INSTALLER_PATH
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(installer, target)
    shutil.copyfile(installer + ".minisig", target + ".minisig")
    with open(os.path.join(servers.state, "nginx", "repr-digest-launch.map"), "w") as f:
        f.write('"%s" "sha-256=:%s:";\n' % (INSTALLER_PATH, digest))
    servers.reload_nginx()
    expected = "sha-256=:%s:" % digest
    for _ in range(100):
        head = subprocess.run(["curl", "-sSI", "--cacert", servers.certs["ca"], url],
                              capture_output=True, text=True).stdout
        if expected in head:
            return
        time.sleep(0.1)
    sys.exit("launch: nginx does not announce the installer's digest")


def stub_env(tmp, mark):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "http_proxy", "https_proxy",
                        "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY")}
    # A folder of its own per run: the stub would otherwise resume, or start
    # the complete installer of the previous run at once.
    env.update({"TMPDIR": tmp, "WEBSETUP_LAUNCH_MARK": mark, "LC_ALL": "C"})
    return env


def run_stub(stub, work, trace_path=None, timeout=300):
    """Runs the stub in the terminal front end; returns (start wall time,
    installer's first instruction wall time)."""
    tmp = tempfile.mkdtemp(dir=work, prefix="run-")
    mark = os.path.join(tmp, "mark")
    argv = [stub]
    if trace_path:
        argv = ["strace", "-f", "-ttt", "--seccomp-bpf", "-e", "trace=execve,connect,openat",
                "-o", trace_path] + argv
    with open(os.path.join(work, "stub.log"), "ab") as out:
        started = time.time()
        subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                       env=stub_env(tmp, mark), timeout=timeout)
    # The installer runs detached from the stub.
    deadline = time.monotonic() + 10
    while not os.path.exists(mark) or os.path.getsize(mark) == 0:
        if time.monotonic() > deadline:
            sys.exit("launch: the installer did not run; see %s/stub.log" % work)
        time.sleep(0.005)
    with open(mark) as f:
        first_instruction = float(f.read())
    shutil.rmtree(tmp, ignore_errors=True)
    return started, first_instruction


EVENT = re.compile(r"^(\d+)\s+(\d+\.\d+)\s+(\w+)\((.*)")


def trace_events(trace_path, port):
    """(time, kind, detail) of the stub's execs, connections to the link and
    read-only opens, in order."""
    events = []
    with open(trace_path) as f:
        for line in f:
            match = EVENT.match(line)
            if not match:
                continue
            t, call, args = float(match.group(2)), match.group(3), match.group(4)
            if call == "execve":
                events.append((t, "exec", args.split(",")[0]))
            elif call == "connect" and "htons(%d)" % port in args:
                events.append((t, "connect", ""))
            elif call == "openat" and "O_RDONLY" in args and "O_DIRECTORY" not in args and \
                    "/run-" in args:
                events.append((t, "open", args.split(",")[1].strip()))
    return events


def link_connections(stats_log, since):
    conns = []
    with open(stats_log) as f:
        for line in f:
            conn = json.loads(line)
            if conn["opened"] >= since:
                conns.append(conn)
    return sorted(conns, key=lambda c: c["opened"])


def closed_connections(servers, stats_log, since, accepted_before):
    """The link's connections opened since `since`, once every one it accepted
    since then has closed and been logged (it logs a connection as it closes)."""
    deadline = time.monotonic() + 10
    while True:
        conns = link_connections(stats_log, since)
        if len(conns) >= servers.proxy_accepts("d") - accepted_before:
            return conns
        if time.monotonic() > deadline:
            sys.exit("launch: the link never logged the run's connections")
        time.sleep(0.05)


def phases(events, conns, first_instruction):
    """Where one traced run's time went, in seconds."""
    start = events[0][0]
    connects = [t for t, kind, _ in events if kind == "connect"]
    launch = [t for t, kind, detail in events if kind == "exec" and "/proc/self/fd/" in detail][0]
    # The launch gate opens the finished installer read-only and keeps it; the
    # signature's connection follows. (The download thread's read-only opens
    # before it make the file durable for a resume.)
    first_worker, signature = connects[1], connects[-1]
    gate_open = max(t for t, kind, detail in events
                    if kind == "open" and detail.endswith('.exe"') and t < signature)
    workers = [c for c in conns if c["last_answer"] and c["opened"] < gate_open and
               c["opened"] >= first_worker - 0.001]
    last_byte = max(c["last_answer"] for c in workers)
    return {
        "start-up: exec to the size request's connection": connects[0] - start,
        "probe (only with a user proxy)": 0.0,
        "size request: its connection to the workers' first": first_worker - connects[0],
        "download: workers' first connection to last byte": last_byte - first_worker,
        "end of the download: last parts written, file synced": gate_open - last_byte,
        "verification: digest, signature request, signature": launch - gate_open,
        "launch: exec to the installer's first instruction": first_instruction - launch,
        "total": first_instruction - start,
        "workers": len(workers),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--sizes", default="1,64", help="installer sizes in MiB")
    parser.add_argument("--port", type=int, default=int(os.environ.get("WEBSETUP_LAUNCH_PORT", 47180)),
                        help="the link's fixed loopback port, built into the stub")
    args = parser.parse_args()
    work = os.path.abspath(args.work_dir)
    os.makedirs(work, exist_ok=True)
    sizes = [int(s) for s in args.sizes.split(",")]

    www = os.path.join(work, "www")
    lifetime = 600 + args.reps * sum(2 * s + 80 + s for s in sizes)
    servers = servers_mod.Servers(os.path.join(work, "servers"), www, lifetime)
    link = servers_mod.Link("https", rtt_ms=40, port=args.port)
    try:
        servers.start({"d": link})
        ca = os.path.join(work, "ca.pem")
        shutil.copyfile(servers.certs["ca"], ca)
        secret_key, public_key = publisher_key(work)
        log("building the stub (download host https://127.0.0.1:%d)" % args.port)
        stub = build_stub(work, args.port, ca, public_key)
        url = "https://127.0.0.1:%d%s" % (args.port, INSTALLER_PATH)
        stats_log = servers.proxy_stats_log("d")
        results = {}
        for size in sizes:
            installer, digest = make_installer(work, size, secret_key)
            serve(servers, www, installer, digest, url)
            rows = results.setdefault(size, {"traced": [], "plain": [], "plain start-up": [],
                                            "curl": []})
            for rep in range(args.reps):
                log("%d MiB, repetition %d of %d" % (size, rep + 1, args.reps))
                trace = os.path.join(work, "trace-%dM-%d.txt" % (size, rep))
                since, accepted = time.time(), servers.proxy_accepts("d")
                _, first_instruction = run_stub(stub, work, trace)
                conns = closed_connections(servers, stats_log, since, accepted)
                rows["traced"].append(phases(trace_events(trace, args.port), conns,
                                             first_instruction))
                since, accepted = time.time(), servers.proxy_accepts("d")
                started, first_instruction = run_stub(stub, work)
                conns = closed_connections(servers, stats_log, since, accepted)
                rows["plain"].append(first_instruction - started)
                rows["plain start-up"].append(conns[0]["opened"] - started)
                out = os.path.join(work, "curl.out")
                started = time.time()
                subprocess.run(["curl", "-sS", "--fail", "--cacert", ca, "-o", out, url], check=True)
                rows["curl"].append(time.time() - started)
                os.remove(out)
        print(report(results, os.getloadavg()))
        with open(os.path.join(work, "launch-%s.json" % time.strftime("%Y%m%d-%H%M%S")), "w") as f:
            json.dump(results, f, indent=1)
    finally:
        servers.stop()


def report(results, load):
    lines = ["Time to launch on the d link (40 ms, 1 MiB/s a connection), medians, seconds;"
             " load average %.1f %.1f %.1f" % load, ""]
    sizes = sorted(results)
    lines.append("| | " + " | ".join("%d MiB" % s for s in sizes) + " |")
    lines.append("|---|" + "---|" * len(sizes))
    keys = [k for k in results[sizes[0]]["traced"][0] if k != "workers"]
    for key in keys:
        cells = ["%.3f" % statistics.median(r[key] for r in results[s]["traced"]) for s in sizes]
        lines.append("| %s (traced) | %s |" % (key, " | ".join(cells)))
    for key, title in (("plain start-up", "start-up without strace: exec to the first connection"),
                       ("plain", "total without strace"), ("curl", "curl, one connection")):
        cells = ["%.3f" % statistics.median(results[s][key]) for s in sizes]
        lines.append("| %s | %s |" % (title, " | ".join(cells)))
    return "\n".join(lines)


if __name__ == "__main__":
    main()
