"""build/soak/report.md: for each saver its figures' first and last values,
largest rise and verdict, a small plot of every figure over time (an SVG
beside the report), and what the start-and-stop runs found."""

from __future__ import annotations

from pathlib import Path

from judge import MEMORY, NOT_COUNTS, Series, Starts, Verdict

PLOT_COLUMNS = 4
CELL_W, CELL_H, PAD = 200, 90, 18
# The least height of a chart's scale, so that a change of a few KiB or of one
# count does not fill the chart.
LEAST_SPAN_KIB, LEAST_SPAN = 256, 4


def _escape(text: str) -> str:
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def plot_svg(series: Series, warm_up: float) -> str:
    """One small chart per figure, in a grid: the values over time, the warm-up
    shaded, the lowest and highest value written at the side."""
    names = [n for n in series.names() if n not in NOT_COUNTS]
    rows = max(1, -(-len(names) // PLOT_COLUMNS))
    width, height = PLOT_COLUMNS * CELL_W, rows * CELL_H
    end = max((t for t, _ in series.samples), default=1.0) or 1.0
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
             f'font-family="sans-serif" font-size="10">',
             f'<rect width="{width}" height="{height}" fill="white"/>']
    for index, name in enumerate(names):
        x0 = (index % PLOT_COLUMNS) * CELL_W
        y0 = (index // PLOT_COLUMNS) * CELL_H
        left, top = x0 + PAD + 30, y0 + PAD
        w, h = CELL_W - PAD - 40, CELL_H - 2 * PAD
        points = series.values(name)
        low = min((v for _, v in points), default=0)
        high = max((v for _, v in points), default=0)
        kib = name in MEMORY or "rss" in name
        span = max(high - low, LEAST_SPAN_KIB if kib else LEAST_SPAN)
        low = max(0, low - (span - (high - low)) // 2)
        high = low + span
        unit = " KiB" if kib else ""
        parts.append(f'<text x="{x0 + 4}" y="{y0 + 12}">{_escape(name)}{unit}</text>')
        parts.append(f'<rect x="{left}" y="{top}" width="{w * min(warm_up, end) / end:.1f}" '
                     f'height="{h}" fill="#eee"/>')
        parts.append(f'<rect x="{left}" y="{top}" width="{w}" height="{h}" fill="none" '
                     f'stroke="#999"/>')
        parts.append(f'<text x="{x0 + 4}" y="{top + 8}">{high}</text>')
        parts.append(f'<text x="{x0 + 4}" y="{top + h}">{low}</text>')
        path = " ".join(f"{left + w * t / end:.1f},{top + h - h * (v - low) / span:.1f}"
                        for t, v in points)
        parts.append(f'<polyline points="{path}" fill="none" stroke="#c33" stroke-width="1.5"/>')
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def _section(series: Series, verdict: Verdict, warm_up: float, label: str, plot: str) -> list[str]:
    minutes = max((t for t, _ in series.samples), default=0) / 60
    lines = [f"## {label}: {minutes:.1f} minutes, {len(series.samples)} samples",
             "", f"**{'passed' if verdict.passed else 'FAILED'}**", ""]
    lines += [f"- {p}" for p in verdict.problems]
    cpu = series.values("cpu_ns")
    if len(cpu) >= 2 and cpu[-1][0] > cpu[0][0]:
        rate = (cpu[-1][1] - cpu[0][1]) / 1e6 / ((cpu[-1][0] - cpu[0][0]) / 60)
        lines.append(f"- CPU time, every thread: {rate:.0f} ms a minute")
    lines += ["", "| figure | first | last | largest rise | after the warm-up: from | "
              "highest rise | allowed |", "|---|---:|---:|---:|---:|---:|---|"]
    for f in verdict.figures:
        allowed = "not judged" if f.allowed is None else (
            f"{f.allowed} KiB" if f.name in MEMORY else "none")
        mark = "" if f.passed else " **over**"
        lines.append(f"| {f.name} | {f.first} | {f.last} | {f.largest_rise} | {f.at_warm} | "
                     f"{f.rise_after_warm}{mark} | {allowed} |")
    lines += ["", f"![{label}]({plot})", ""]
    return lines


def _starts_section(starts: Starts, label: str, end_how: str) -> list[str]:
    problems = starts.problems()
    clean = sum(1 for s in starts.statuses if s == 0)
    lines = [f"## {label}: {len(starts.statuses)} starts, each ended by {end_how}", "",
             f"**{'passed' if not problems else 'FAILED'}** in {starts.seconds:.0f} s; "
             f"{clean} ended with status 0.", ""]
    lines += [f"- {p}" for p in problems]
    lines += [f"- {n}" for n in starts.notes]
    lines += ["", "| server figure | before | after |", "|---|---:|---:|"]
    for name in sorted(set(starts.before) | set(starts.after)):
        shown = f"{name} (not judged)" if name in starts.informative else name
        lines.append(f"| {shown} | {starts.before.get(name, 0)} | {starts.after.get(name, 0)} |")
    lines.append("")
    return lines


def write(out: Path, header: list[str], runs: list[tuple], starts: list[tuple]) -> Path:
    """runs: (kind, series, verdict, warm_up); starts: (kind, Starts)."""
    lines = ["# Quillomir soak run", "", *header, ""]
    for kind, series, verdict, warm_up in runs:
        plot = f"{kind.name}.svg"
        (out / plot).write_text(plot_svg(series, warm_up))
        lines += _section(series, verdict, warm_up, kind.label, plot)
    for kind, result in starts:
        lines += _starts_section(result, kind.label, kind.end_how)
    path = out / "report.md"
    path.write_text("\n".join(lines))
    return path
