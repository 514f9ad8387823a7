"""Draws a benchmark's table as a PNG beside it (Debian's python3-matplotlib).

Three panels, one group of bars per scenario and one bar per tool: the share
of the limit reached in the throttled scenarios, with each scenario's design
ceiling as a dashed line; MiB/s of the unthrottled ones; and their CPU seconds
per GiB. A reader sees at a glance where our downloader stands.
"""

import sys


def draw(rows, scenarios, tool_names, title, path):
    """Writes the chart to `path`; returns False (and says why) when matplotlib is missing."""
    try:
        import matplotlib
        matplotlib.use("Agg")  # no display needed
        import matplotlib.pyplot as plt
    except ImportError:
        print("bench: no chart, python3-matplotlib is not installed (scripts/setup-deps.sh --groups bench)",
              file=sys.stderr)
        return False

    by_key = {(r["scenario"], r["tool"]): r for r in rows}
    throttled = [s for s in scenarios if s.limit_mibps]
    open_ = [s for s in scenarios if not s.limit_mibps]
    panels = [p for p in (
        ("share of the limit (12 connections x rate)", throttled, "xlimit"),
        ("unthrottled: MiB/s", open_, "mibps"),
        ("unthrottled: CPU s per GiB (lower is better)", open_, "cpu_gib"),
    ) if p[1]]
    if not panels:
        return False
    widths = [max(len(p[1]), 1) + 1 for p in panels]
    figure, axes = plt.subplots(1, len(panels), figsize=(4 + 1.6 * sum(widths), 4.8),
                                gridspec_kw={"width_ratios": widths}, squeeze=False)
    colours = plt.get_cmap("tab10")
    bar = 0.8 / max(len(tool_names), 1)
    for axis, (label, group, key) in zip(axes[0], panels):
        for t, tool in enumerate(tool_names):
            xs, ys = [], []
            for i, scenario in enumerate(group):
                row = by_key.get((scenario.id, tool))
                if row and row.get(key) is not None:
                    xs.append(i - 0.4 + bar * (t + 0.5))
                    ys.append(row[key])
            bars = axis.bar(xs, ys, bar, label=tool, color=colours(t % 10),
                            edgecolor="black" if tool == "ours" else None)
            axis.bar_label(bars, fmt="%.2f" if key != "mibps" else "%.0f", fontsize=6, rotation=90,
                           padding=2)
        if key == "xlimit":
            for i, scenario in enumerate(group):
                axis.hlines(scenario.ceiling, i - 0.45, i + 0.45, colors="black", linestyles="dashed",
                            label="design ceiling" if i == 0 else None)
            axis.set_ylim(0, 1.15)
        else:
            axis.set_ylim(0, axis.get_ylim()[1] * 1.15)
        axis.set_xticks(range(len(group)))
        axis.set_xticklabels([s.id for s in group])
        axis.set_title(label, fontsize=9)
        axis.grid(axis="y", alpha=0.3)
    axes[0][0].legend(fontsize=7, loc="lower left")
    figure.suptitle(title, fontsize=9)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    plt.close(figure)
    return True
