"""Turns the runs of a benchmark into its table.

One row per scenario and tool, medians over the repetitions whose download
completed with the right sha256. Failed runs count in the `ok` column and are
left out of every median.
"""

import statistics

MIB = 1024 * 1024
GIB = 1024 * MIB

COLUMNS = [
    # header, width, key
    ("scenario", 9, "scenario"),
    ("tool", 7, "tool"),
    ("MiB/s", 7, "mibps"),
    ("xlimit", 6, "xlimit"),
    ("xaria2c", 7, "xaria"),
    ("conns", 5, "conns"),
    ("reqs", 5, "reqs"),
    ("RSS MiB", 7, "rss"),
    ("CPU s", 6, "cpu"),
    ("CPU s/GiB", 9, "cpu_gib"),
    ("link CPU%", 9, "link_cpu"),
    ("turn ms", 7, "cli_turn"),
    ("srv ms", 6, "srv_turn"),
    ("ok", 5, "ok"),
]


def median(values):
    return statistics.median(values) if values else None


def summarise(scenario, runs, tool_names):
    """runs: result dicts of one scenario. Returns the rows in tool order."""
    rows = []
    by_tool = {name: [r for r in runs if r["tool"] == name] for name in tool_names}
    good = {name: [r for r in rs if r["error"] is None] for name, rs in by_tool.items()}
    speed = {name: median([r["bytes"] / r["seconds"] / MIB for r in rs]) for name, rs in good.items()}
    aria = speed.get("aria2c")
    for name in tool_names:
        rs, ok = by_tool[name], good[name]
        if not rs:
            continue
        mibps = speed[name]
        cpu = median([r["cpu"] for r in ok])
        link = [r["link_cpu_s"] / r["seconds"] * 100 for r in ok if r.get("link_cpu_s") is not None]
        rows.append({
            "scenario": scenario.id,
            "tool": name,
            "mibps": mibps,
            "xlimit": mibps / scenario.limit_mibps if mibps and scenario.limit_mibps else None,
            "xaria": mibps / aria if mibps and aria else None,
            "conns": median([r["conns"] for r in ok]),
            "reqs": median([r["reqs"] for r in ok]),
            "rss": median([r["rss_kib"] / 1024 for r in ok]),
            "cpu": cpu,
            "cpu_gib": cpu / (scenario.size / GIB) if cpu is not None else None,
            "link_cpu": median(link),
            "cli_turn": median([r["client_turn_ms"] for r in ok if r.get("client_turn_ms") is not None]),
            "srv_turn": median([r["server_turn_ms"] for r in ok if r.get("server_turn_ms") is not None]),
            "limit": scenario.limit_mibps,
            "ceiling": scenario.ceiling,
            "ok": "%d/%d" % (len(ok), len(rs)),
            "errors": sorted({r["error"] for r in rs if r["error"]}),
        })
    return rows


def cell(value, width):
    if value is None:
        text = "-"
    elif isinstance(value, str):
        text = value
    elif isinstance(value, float) and value >= 100:
        text = "%.0f" % value
    elif isinstance(value, float):
        text = "%.2f" % value
    else:
        text = str(value)
    return text.rjust(width)


def format_table(rows):
    lines = ["  ".join(h.rjust(w) if i > 1 else h.ljust(w) for i, (h, w, _) in enumerate(COLUMNS))]
    last = None
    for row in rows:
        if last is not None and row["scenario"] != last:
            lines.append("")
        last = row["scenario"]
        cells = []
        for i, (_, width, key) in enumerate(COLUMNS):
            value = row[key]
            if key in ("conns", "reqs") and isinstance(value, float) and value.is_integer():
                value = int(value)  # a median of counts over an odd number of runs
            cells.append(str(value).ljust(width) if i < 2 else cell(value, width))
        lines.append("  ".join(cells))
    notes = ["%s/%s: %s" % (r["scenario"], r["tool"], "; ".join(r["errors"])) for r in rows if r["errors"]]
    if notes:
        lines += ["", "failed runs:"] + ["  " + n for n in notes]
    return "\n".join(lines)
