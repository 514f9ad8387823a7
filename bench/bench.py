#!/usr/bin/env python3
"""The downloader benchmark: our downloader and peer tools, same servers, one run.

Started by bench/run, which installs the packages and builds websetup-fetch.
Every repetition runs every selected scenario with every tool, the tool order
rotated by one per repetition so no tool always runs first or last; the table
shows medians. See bench/README.md for how to read it.
"""

import argparse
import json
import os
import signal
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import chart  # noqa: E402
import make_data  # noqa: E402
import measure  # noqa: E402
import report  # noqa: E402
import servers as servers_mod  # noqa: E402
import tools as tools_mod  # noqa: E402

MIB = 1024 * 1024
PART = 512 * 1024  # our downloader's request size

# Links: paced proxies in front of an nginx port. The 4 MiB/s link writes
# 64 KiB slices: with 16 KiB ones the proxy has to wake every 4 ms on each of
# 12 connections, which one Python process on a busy two-core machine does not
# keep up with (bench/README.md has the measurement).
LINKS = {
    "conn": servers_mod.Link("https"),
    "conn-h2": servers_mod.Link("h2"),
    "rtt": servers_mod.Link("https", rtt_ms=40),
    "rtt-4m": servers_mod.Link("https", rtt_ms=40, rate=4 * MIB, slice=64 * 1024),
}


class Scenario:
    def __init__(self, id, title, port, size_mib, quick_mib, link=None, throttled=True):
        self.id, self.title, self.port, self.link = id, title, port, link
        self.size_mib, self.quick_mib = size_mib, quick_mib
        # nginx's own limit (b-stream) is LIMIT_BYTES_PER_S per stream.
        rate = LINKS[link].rate if link else servers_mod.LIMIT_BYTES_PER_S
        rtt_s = LINKS[link].rtt_ms / 1000.0 if link else 0.0
        self.limit_mibps = tools_mod.CONNECTIONS * rate / MIB if throttled else None
        # One round trip per part leaves the link idle for R*r bytes' time in
        # every R*r + part: the most a downloader that asks for one part at a
        # time can reach, start-up and the last round not counted.
        self.ceiling = 1.0 / (1.0 + rtt_s * rate / PART) if throttled else None
        self.size = None  # bytes, set once the mode is known

    def url(self, servers):
        port = servers.ports[self.link or self.port]
        scheme = "http" if self.port == "http" else "https"
        return "%s://127.0.0.1:%d/%s" % (scheme, port, make_data.file_name(self.size // MIB))

    def timeout(self):
        # Generous: a single connection at the limit, or a slow unthrottled run.
        per_mib = 2.5 if self.limit_mibps else 0.5
        return int(self.size / MIB * per_mib) + 60

SCENARIOS = [
    Scenario("a", "HTTPS/1.1, 1 MiB/s per connection (paced link)", "https", 64, 8, link="conn"),
    Scenario("b-conn", "HTTP/2 port, 1 MiB/s per connection (paced link)", "h2", 64, 8, link="conn-h2"),
    Scenario("b-stream", "HTTP/2 port, 1 MiB/s per stream (nginx limit_rate)", "h2_stream", 64, 8),
    Scenario("c-http", "HTTP, unthrottled", "http", 256, 32, throttled=False),
    Scenario("c-https", "HTTPS/1.1, unthrottled", "https", 256, 32, throttled=False),
    Scenario("d", "HTTPS/1.1, 40 ms round trip + 1 MiB/s per connection (paced link)", "https", 64, 8,
             link="rtt"),
    Scenario("e", "HTTPS/1.1, 40 ms round trip + 4 MiB/s per connection (paced link)", "https", 64, 16,
             link="rtt-4m"),
]
GROUPS = {"b": ["b-conn", "b-stream"], "c": ["c-http", "c-https"]}


def select_scenarios(text):
    wanted = []
    for item in text.split(","):
        item = item.strip()
        for sid in GROUPS.get(item, [item]):
            if sid != "link" and sid not in {s.id for s in SCENARIOS}:
                sys.exit("unknown scenario %r (known: a, b, b-conn, b-stream, c, c-http, c-https, d, e, link)"
                         % sid)
            if sid not in wanted:
                wanted.append(sid)
    return wanted


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def log(message):
    print("[bench] " + message, file=sys.stderr, flush=True)


def run_download(servers, scenario, tool, out_dir, ca, digest, logs):
    """One measured download, with the connections nginx and the link saw."""
    access_offset = servers_mod.log_size(servers.access_log)
    accepts_before = servers.proxy_accepts(scenario.link) if scenario.link else None
    stats_offset = servers_mod.log_size(servers.proxy_stats_log(scenario.link)) if scenario.link else None
    link_cpu_before = servers_mod.cpu_seconds(servers.proxy_pid(scenario.link)) if scenario.link else None
    out = os.path.join(out_dir, "%s-%s.bin" % (scenario.id, tool.name))
    log_path = os.path.join(logs, "%s-%s.log" % (scenario.id, tool.name))
    result = measure.download(tool, scenario.url(servers), out, ca, digest, scenario.size,
                              scenario.timeout(), log_path)
    if scenario.link:
        result["link_cpu_s"] = servers_mod.cpu_seconds(servers.proxy_pid(scenario.link)) - link_cpu_before
        result["link_accepts"] = servers.proxy_accepts(scenario.link) - accepts_before
    time.sleep(0.3)  # nginx logs a request when its connection lets go of it
    port = servers.ports[scenario.port]
    result["conns"], result["reqs"], _ = servers_mod.connections_since(servers.access_log, access_offset, port)
    if scenario.link:
        result.update(turnarounds(servers.proxy_stats_log(scenario.link), stats_offset))
    result.update(scenario=scenario.id, tool=tool.name, bytes=scenario.size)
    return result


def turnarounds(stats_log, offset):
    """What the link saw of the connections that closed since `offset`: the
    client's and the server's turnarounds (pacing_proxy.py), as medians and
    as the client's total per connection."""
    client, server, per_conn, conns = [], [], [], []
    with open(stats_log) as f:
        f.seek(offset)
        for line in f:
            try:
                conn = json.loads(line)
            except ValueError:
                continue
            client += conn["client_turns_ms"]
            server += conn["server_turns_ms"]
            per_conn.append(sum(conn["client_turns_ms"]) / 1000.0)
            conns.append({key: conn.get(key) for key in ("opened", "first_request", "last_answer", "closed",
                                                         "bytes_down")})
            conns[-1]["turns"] = len(conn["client_turns_ms"])
            conns[-1]["client_turn_s"] = per_conn[-1]
    return {
        "client_turn_ms": statistics.median(client) if client else None,
        "client_turn_p90_ms": sorted(client)[int(len(client) * 0.9)] if client else None,
        "server_turn_ms": statistics.median(server) if server else None,
        "client_turn_s_per_conn": statistics.mean(per_conn) if per_conn else None,
        "link_connections": conns,
    }


def link_check(servers, link_name, out_dir, ca, size_mib, digest):
    """12 curl downloads at once through one link each: is each one paced
    to the rate, and what does the proxy cost?"""
    import subprocess
    link = LINKS[link_name]
    rate_mibps = link.rate / MIB
    url = "https://127.0.0.1:%d/%s" % (servers.ports[link_name], make_data.file_name(size_mib))
    pid = servers.proxy_pid(link_name)
    cpu_before, started = servers_mod.cpu_seconds(pid), time.monotonic()
    procs = [subprocess.Popen(["curl", "-sS", "--fail", "--cacert", ca, "-o",
                               os.path.join(out_dir, "link-%d.bin" % i),
                               "-w", "%{time_pretransfer} %{time_total}", url],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
             for i in range(tools_mod.CONNECTIONS)]
    # Paced time: from the request leaving (TLS set up) to the last byte.
    times = []
    for p in procs:
        output = p.communicate()[0].split()
        times.append(float(output[1]) - float(output[0]) if p.returncode == 0 and len(output) == 2 else None)
    wall = time.monotonic() - started
    cpu = servers_mod.cpu_seconds(pid) - cpu_before
    good = 0
    for i in range(tools_mod.CONNECTIONS):
        path = os.path.join(out_dir, "link-%d.bin" % i)
        if times[i] is not None and os.path.exists(path) and measure.sha256_of(path) == digest:
            good += 1
        if os.path.exists(path):
            os.remove(path)
    rates = sorted(size_mib / t for t in times if t)
    if not rates:
        return "pacing link check: every curl failed"
    return ("pacing link check: %d curl downloads of %d MiB at once through one %g MiB/s link each "
            "(%d ms round trip, %d KiB slices; %d/%d sha256 ok)\n"
            "  per connection MiB/s, request to last byte: min %.3f  median %.3f  max %.3f  (target %.3f)\n"
            "  aggregate %.2f MiB/s; proxy CPU %.2f s over %.1f s wall = %.1f%% of one core"
            % (len(procs), size_mib, rate_mibps, link.rtt_ms, link.slice // 1024, good, len(procs),
               rates[0], statistics.median(rates), rates[-1], rate_mibps,
               size_mib * len(rates) / wall, cpu, wall, cpu / wall * 100))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=3, help="repetitions (default 3; 1 with --quick)")
    parser.add_argument("--quick", action="store_true", help="small files and one repetition: a smoke test")
    parser.add_argument("--scenarios", default="link,a,b,c,d,e",
                        help="comma list of a, b (= b-conn,b-stream), c (= c-http,c-https), d, e, link")
    parser.add_argument("--e-slice", type=int, default=0,
                        help="slice of the 4 MiB/s link in KiB (default %d)" % (LINKS["rtt-4m"].slice // 1024))
    parser.add_argument("--tools", default="ours,aria2c,axel,wget2,curl", help="comma list of tools")
    parser.add_argument("--ours", default="", help="path of websetup-fetch; empty skips ours")
    parser.add_argument("--compare", action="append", default=[], metavar="NAME=PATH",
                        help="also run another build of websetup-fetch as tool NAME (say, the one "
                             "before a change), so that both are measured in the same run")
    parser.add_argument("--work-dir", required=True, help="data, server state, logs and results go here")
    parser.add_argument("--out-dir", default="", help="downloads land here (default: a folder in /dev/shm)")
    parser.add_argument("--results", default="", help="table file (default: WORK_DIR/results/bench-TIME.txt)")
    args = parser.parse_args()
    # SIGTERM (from bench/run's trap) unwinds like Ctrl-C, so servers stop and files go.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    if args.e_slice:
        LINKS["rtt-4m"].slice = args.e_slice * 1024
    reps = 1 if args.quick and "--reps" not in sys.argv else args.reps
    chosen = select_scenarios(args.scenarios)
    scenarios = [s for s in SCENARIOS if s.id in chosen]
    for s in scenarios:
        s.size = (s.quick_mib if args.quick else s.size_mib) * MIB
    wanted_tools = [t.strip() for t in args.tools.split(",") if t.strip()]
    tools = [t for t in tools_mod.all_tools(args.ours or None) if t.name in wanted_tools]
    for item in args.compare:
        name, _, path = item.partition("=")
        if not name or not os.access(path, os.X_OK):
            sys.exit("--compare wants NAME=PATH of an executable websetup-fetch, not %r" % item)
        tools.insert(1 if tools and tools[0].name == "ours" else 0, tools_mod.ours(os.path.abspath(path), name))
    if "ours" in wanted_tools and not args.ours:
        log("ours: skipped, websetup-fetch is not built in this checkout")
    link_mib = 4 if args.quick else 16

    work = os.path.abspath(args.work_dir)
    data_dir = os.path.join(work, "data")
    sizes = sorted({s.size // MIB for s in scenarios} | ({link_mib} if "link" in chosen else set()))
    log("data files (cached): %s MiB" % ", ".join(map(str, sizes)))
    os.makedirs(data_dir, exist_ok=True)
    for size in sizes:
        make_data.make(data_dir, size)
    digests = {}
    for size in sizes:
        with open(os.path.join(data_dir, make_data.file_name(size) + ".sha256")) as f:
            digests[size] = f.read().strip()

    stamp = time.strftime("%Y%m%d-%H%M%S")
    logs = os.path.join(work, "logs", stamp)
    os.makedirs(logs, exist_ok=True)
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
    out_dir = args.out_dir or tempfile.mkdtemp(prefix="websetup-bench-", dir=shm)
    os.makedirs(out_dir, exist_ok=True)

    # Lifetime of the servers: every download running into its timeout, plus margin.
    lifetime = 300 + reps * len(tools) * sum(s.timeout() for s in scenarios)
    servers = servers_mod.Servers(os.path.join(work, "servers"), data_dir, min(lifetime, 6 * 3600))
    # The link check covers the 1 MiB/s link, and the 4 MiB/s one when (e) runs.
    checked_links = ["conn"] + (["rtt-4m"] if "e" in chosen else []) if "link" in chosen else []
    links = {name: LINKS[name] for name in {s.link for s in scenarios if s.link} | set(checked_links)}
    runs, loads = [], [("start", loadavg())]
    checks = []
    try:
        servers.start(links)
        ca = servers.certs["ca"]
        if "link" in chosen:
            for name in checked_links:
                log("checking the pacing link %s" % name)
                checks.append(link_check(servers, name, out_dir, ca, link_mib, digests[link_mib]))
                log(checks[-1])
        for rep in range(reps):
            order = tools[rep % len(tools):] + tools[:rep % len(tools)] if tools else []
            log("repetition %d/%d, load %s, order %s" % (rep + 1, reps, loadavg(),
                                                        " ".join(t.name for t in order)))
            loads.append(("rep %d" % (rep + 1), loadavg()))
            for scenario in scenarios:
                for tool in order:
                    result = run_download(servers, scenario, tool, out_dir, ca,
                                          digests[scenario.size // MIB], logs)
                    result["rep"] = rep + 1
                    runs.append(result)
                    log("%-8s %-6s %7.2f MiB/s  cpu %.2f s  rss %.1f MiB  conns %s  %s" % (
                        scenario.id, tool.name, scenario.size / result["seconds"] / MIB, result["cpu"],
                        result["rss_kib"] / 1024, result["conns"], result["error"] or "ok"))
    finally:
        servers.stop()
        if not args.out_dir:
            for entry in os.listdir(out_dir):
                os.remove(os.path.join(out_dir, entry))
            os.rmdir(out_dir)
    loads.append(("end", loadavg()))

    tool_names = [t.name for t in tools]
    rows = []
    for scenario in scenarios:
        rows += report.summarise(scenario, [r for r in runs if r["scenario"] == scenario.id], tool_names)
    header = ["websetup downloader benchmark, %s, %d repetition(s)%s" % (
                  time.strftime("%Y-%m-%d %H:%M"), reps, ", quick (small files)" if args.quick else ""),
              "limit of a throttled scenario: %d connections x its rate per connection; design "
              "ceiling 1/(1 + R*r/512 KiB) at round trip R and rate r" % tools_mod.CONNECTIONS,
              "machine: %d cores; load average (1/5/15 min) %s" % (
                  os.cpu_count(), "; ".join("%s %s" % l for l in loads))]
    if "ours" in wanted_tools and not args.ours:
        header.append("ours: skipped (websetup-fetch is not built in this checkout)")
    header.append("")
    header += ["%-8s %s, %d MiB%s" % (s.id, s.title, s.size // MIB,
                                      ", limit %.0f MiB/s, design ceiling %.3f" % (s.limit_mibps, s.ceiling)
                                      if s.limit_mibps else "")
               for s in scenarios]
    text = "\n".join(header) + "\n\n" + report.format_table(rows) + "\n"
    for check in checks:
        text += "\n" + check + "\n"
    print(text)
    results = args.results or os.path.join(work, "results", "bench-%s.txt" % stamp)
    os.makedirs(os.path.dirname(results), exist_ok=True)
    with open(results, "w") as f:
        f.write(text)
    with open(os.path.splitext(results)[0] + ".json", "w") as f:
        json.dump({"runs": runs, "rows": rows, "loads": loads, "link_check": checks}, f, indent=1)
    picture = os.path.splitext(results)[0] + ".png"
    loads_text = "load %s at start, %s at end" % (loads[0][1], loads[-1][1])
    if chart.draw(rows, scenarios, tool_names, "websetup downloader benchmark, %s, %d repetition(s), medians; %s" % (
            time.strftime("%Y-%m-%d %H:%M"), reps, loads_text), picture):
        log("chart drawn in %s" % picture)
    log("table written to %s (per-run data beside it in .json, tool output in %s)" % (results, logs))
    failed = any(r["error"] for r in runs)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
