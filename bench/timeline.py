#!/usr/bin/env python3
"""Where the wall time of paced-link runs went, from a benchmark's .json file.

    python3 bench/timeline.py build/bench/results/bench-TIME.json [--scenario e] [--tool ours]

For each run through a paced link it lines the link's connections up with the
tool's process (wall-clock times from pacing_proxy.py's --stats-log) and
splits the run into: start-up until the first connection, the connections
before the first ranged request (a size request, TLS set-up), the transfer
from the first request to the last answer byte, and the end after it (the
tool writing, closing and exiting). Within the transfer it shows the client's
own turnarounds between answers and the spread of the connections' last
bytes, which is the last round of parts not filling every connection.
"""

import argparse
import json
import statistics


def describe(run, rate, rtt_s):
    conns = sorted(run.get("link_connections") or [], key=lambda c: c["opened"])
    if not conns:
        return None
    t0 = run["started_wall"]
    end = t0 + run["seconds"]
    # The connections that carried the file: those with more than one turn, or
    # all of them for a tool that sends one request per connection.
    busy = [c for c in conns if c["bytes_down"] and c["last_answer"]]
    first_request = min(c["first_request"] for c in busy if c["first_request"])
    transfer_from = min(c["first_request"] for c in busy
                        if c["first_request"] and c["bytes_down"] > 16 * 1024 * 16)
    last_answer = max(c["last_answer"] for c in busy)
    last_answers = sorted(c["last_answer"] for c in busy if c["bytes_down"] > 16 * 1024 * 16)
    turns = sum(c["turns"] for c in conns)
    client_turn = sum(c["client_turn_s"] for c in conns)
    ideal = run["bytes"] / (12 * rate)
    return {
        "total": run["seconds"],
        "start-up (exec to first connection)": conns[0]["opened"] - t0,
        "first request byte": first_request - t0,
        "set-up (first connection to first part request)": transfer_from - conns[0]["opened"],
        "transfer (first part request to last answer byte)": last_answer - transfer_from,
        "  of which at the limit": ideal,
        "  of which round trips (turns x RTT / conns)": turns * rtt_s / max(len(last_answers), 1),
        "  of which client turnarounds (sum / conns)": client_turn / max(len(last_answers), 1),
        "  spread of the connections' last bytes": (last_answers[-1] - last_answers[0]) if last_answers else 0,
        "end (last answer byte to exit)": end - last_answer,
        "connections": len(conns),
        "turns": turns,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("json")
    parser.add_argument("--scenario")
    parser.add_argument("--tool")
    parser.add_argument("--rate-mib", type=float, default=None, help="per-connection rate (default from the scenario)")
    parser.add_argument("--rtt-ms", type=float, default=None)
    args = parser.parse_args()
    with open(args.json) as f:
        data = json.load(f)
    defaults = {"a": (1, 0), "b-conn": (1, 0), "d": (1, 40), "e": (4, 40)}
    groups = {}
    for run in data["runs"]:
        if run.get("error") or not run.get("link_connections"):
            continue
        if args.scenario and run["scenario"] != args.scenario or args.tool and run["tool"] != args.tool:
            continue
        rate_mib, rtt_ms = defaults.get(run["scenario"], (1, 0))
        rate = (args.rate_mib or rate_mib) * 1024 * 1024
        rtt = (args.rtt_ms if args.rtt_ms is not None else rtt_ms) / 1000.0
        parts = describe(run, rate, rtt)
        if parts:
            groups.setdefault((run["scenario"], run["tool"]), []).append(parts)
    for (scenario, tool), runs in groups.items():
        print("%s / %s (%d runs; medians, seconds)" % (scenario, tool, len(runs)))
        for key in runs[0]:
            value = statistics.median(r[key] for r in runs)
            print("  %-52s %8.3f" % (key, value) if isinstance(value, float) else "  %-52s %8s" % (key, value))


if __name__ == "__main__":
    main()
