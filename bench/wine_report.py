"""The Wine bench's figures from two readings of each program, its report
(report.md, report.json) and its verdicts on the targets."""

import json
import os
import time

from wine_procfs import CLK_TCK

# Criteria, in the order in which they are printed.
MEMORY_HEADROOM_MB = 12.0
SCALING_LIMIT = 1.5
WAKEUP_LIMIT = 1.5


def log(message):
    print(f"[bench {time.strftime('%H:%M:%S')}] {message}", flush=True)


def figures(entry, span_wanted):
    a, b = entry["t0"], entry["t1"]
    if not (a["program"] and b["program"] and a["wineserver"] and b["wineserver"]):
        return None
    span = b["program"]["time"] - a["program"]["time"]
    per_min = 60.0 / span

    def cpu_ms(key):
        if not (a[key] and b[key]):
            return None
        return (b[key]["ticks"] - a[key]["ticks"]) * 1000.0 / CLK_TCK * per_min

    def run_ms(key):
        return (b[key]["run_ns"] - a[key]["run_ns"]) / 1e6 * per_min

    def wakeups(key):
        return (b[key]["voluntary"] - a[key]["voluntary"]) / span

    others_ms = 0.0
    for k, r0 in a["others"].items():
        r1 = b["others"].get(k)
        if r0 and r1:
            others_ms += (r1["ticks"] - r0["ticks"]) * 1000.0 / CLK_TCK * per_min
    return {
        "span_s": span,
        "cpu_program_ms_per_min": cpu_ms("program"),
        "cpu_wineserver_ms_per_min": cpu_ms("wineserver"),
        "cpu_total_ms_per_min": cpu_ms("program") + cpu_ms("wineserver"),
        "oncpu_program_ms_per_min": run_ms("program"),
        "oncpu_wineserver_ms_per_min": run_ms("wineserver"),
        "cpu_xvfb_ms_per_min": cpu_ms("xvfb"),
        "cpu_other_prefix_processes_ms_per_min": others_ms,
        "wakeups_program_per_s": wakeups("program"),
        "wakeups_wineserver_per_s": wakeups("wineserver"),
        "involuntary_program_per_s":
            (b["program"]["involuntary"] - a["program"]["involuntary"]) / span,
        "threads_program": b["program"]["threads"],
        "peak_rss_mb": b["program"].get("VmHWM", 0) / 1024.0,
        "rss_mb": b["program"].get("VmRSS", 0) / 1024.0,
        "rss_shmem_mb": b["program"].get("RssShmem", 0) / 1024.0,
        "wineserver_peak_rss_mb": b["wineserver"].get("VmHWM", 0) / 1024.0,
        "alive_at_t1": entry.get("alive_at_t1", False),
        "span_ok": abs(span - span_wanted) < 5,
    }


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def fmt(value, digits=1):
    return "n/a" if value is None else f"{value:.{digits}f}"


def fmt_ratio(value):
    return "n/a" if value is None else f"{value:.2f}x"


def write_reports(out, started, args, core_rows, core_context, results, programs, screens):
    def fig(name, screen):
        r = results.get(f"{name}@{screen[0]}x{screen[1]}")
        return r["figures"] if r else None

    lines = []
    lines.append("# Quillomir: what the saver costs")
    lines.append("")
    lines.append(f"Run started {started}; {os.cpu_count()} CPUs, shared with other work, so "
                 "wall-clock figures are noisy; CPU times are per process.")
    lines.append("")
    lines.append("## Core, one call (Google Benchmark, median of 3)")
    lines.append("")
    lines.append("| Benchmark | CPU ns | Wall ns | Circles drawn |")
    lines.append("|---|---:|---:|---:|")
    for row in core_rows:
        circles = "" if row["circles_per_tick"] is None else f"{row['circles_per_tick']:.0f}"
        lines.append(f"| {row['name']} | {row['cpu_ns']:.1f} | {row['real_ns']:.1f} | "
                     f"{circles} |")
    lines.append("")
    lines.append("BounceTick/N is one movement tick at length N on a null drawing surface; "
                 "SamplerTick is one Timer2 tick with scripted counters (CPU method); "
                 "CpuinfoQuery is one meter reading on scripted counters.")
    lines.append("")
    lines.append(f"## Whole process under Wine ({args.seconds:.0f} s after "
                 f"{args.warmup:.0f} s warm-up, all {len(programs) * len(screens)} at once)")
    lines.append("")
    lines.append("| Program | Screen | CPU ms/min process | wineserver | process + server "
                 "| x floor | x same-job floor | x naive | on-CPU ms/min (schedstat) | Xvfb ms/min "
                 "| wake-ups/s process | wake-ups/s server | peak RSS MB | RSS above floor MB |")
    lines.append("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in programs:
        for screen in screens:
            f = fig(name, screen)
            label = f"{screen[0]}x{screen[1]}"
            if not f:
                lines.append(f"| {name} | {label} | " + " | ".join(["n/a"] * 12) + " |")
                continue
            fl, jf, nv = fig("floor", screen), fig("job_floor", screen), fig("naive", screen)
            total = f["cpu_total_ms_per_min"]
            lines.append(
                f"| {name} | {label} | {fmt(f['cpu_program_ms_per_min'])} "
                f"| {fmt(f['cpu_wineserver_ms_per_min'])} | {fmt(total)} "
                f"| {fmt_ratio(ratio(total, fl and fl['cpu_total_ms_per_min']))} "
                f"| {fmt_ratio(ratio(total, jf and jf['cpu_total_ms_per_min']))} "
                f"| {fmt_ratio(ratio(total, nv and nv['cpu_total_ms_per_min']))} "
                f"| {fmt(f['oncpu_program_ms_per_min'] + f['oncpu_wineserver_ms_per_min'])} "
                f"| {fmt(f['cpu_xvfb_ms_per_min'])} "
                f"| {fmt(f['wakeups_program_per_s'], 2)} | {fmt(f['wakeups_wineserver_per_s'], 2)} "
                f"| {fmt(f['peak_rss_mb'])} "
                f"| {fmt(fl and f['peak_rss_mb'] - fl['peak_rss_mb'])} |")
    lines.append("")
    lines.append(
        f"CPU is user + system time from /proc/PID/stat, in clock ticks of {1000 / CLK_TCK:.0f} ms "
        f"(so ±{1000 / CLK_TCK * 60 / args.seconds:.0f} ms/min per reading), scaled to one "
        "minute; 'process + server' adds the prefix's own wineserver, and the ratios use that "
        "sum. The on-CPU column is the same pair from the scheduler's nanosecond accounting "
        "(/proc/PID/task/*/schedstat), as a finer cross-check. Wake-ups are voluntary context "
        "switches per second summed over all threads (/proc/PID/task/*/status). Peak RSS is "
        "VmHWM at the end. Xvfb is the display's X server, where Wine's X11 output is "
        "rasterized; it is shown, not counted. 'RSS above floor' subtracts the idle window's "
        "peak at the same screen size, which holds what Wine itself keeps per window.")
    lines.append("")

    verdicts = []

    def oncpu(f):
        return f["oncpu_program_ms_per_min"] + f["oncpu_wineserver_ms_per_min"]

    def verdict(title, ok, detail):
        state = "n/a" if ok is None else ("met" if ok else "MISSED")
        verdicts.append({"target": title, "result": state, "detail": detail})
        lines.append(f"- {title}: **{state}** ({detail})")

    lines.append("## Targets")
    lines.append("")
    s1, s4 = fig("saver", screens[0]), fig("saver", screens[1])
    n1 = fig("naive", screens[0])
    valid = all(f and f["alive_at_t1"] for f in (s1, s4, n1))
    if not valid:
        lines.append("- A measured program was not running at t1; the figures are not valid.")
        verdicts.append({"target": "every measured program running from t0 to t1",
                         "result": "MISSED", "detail": "see the table above"})
    if s1 and n1:
        a, b = s1["cpu_total_ms_per_min"], n1["cpu_total_ms_per_min"]
        verdict("CPU per minute at 1024x768 at most the naive reference's",
                valid and a <= b, f"saver {a:.1f} ms/min vs naive {b:.1f} ms/min")
        oa, ob = oncpu(s1), oncpu(n1)
        lines.append(f"  - cross-check from schedstat: {oa:.1f} vs {ob:.1f} ms/min "
                     f"({'met' if oa <= ob else 'missed'} by that measure); the process alone: "
                     f"{s1['oncpu_program_ms_per_min']:.1f} vs {n1['oncpu_program_ms_per_min']:.1f}")
    if s1 and s4:
        a, b = s4["cpu_total_ms_per_min"], s1["cpu_total_ms_per_min"]
        r = ratio(a, b)
        verdict(f"CPU at 3840x2160 at most {SCALING_LIMIT}x the saver's at 1024x768",
                valid and r is not None and r <= SCALING_LIMIT,
                f"{a:.1f} vs {b:.1f} ms/min, {fmt_ratio(r)}")
        oa, ob = oncpu(s4), oncpu(s1)
        orr = ratio(oa, ob)
        lines.append(f"  - cross-check from schedstat: {oa:.1f} vs {ob:.1f} ms/min, {fmt_ratio(orr)} "
                     f"({'met' if orr is not None and orr <= SCALING_LIMIT else 'missed'} by that "
                     f"measure); the process alone: {s4['oncpu_program_ms_per_min']:.1f} vs "
                     f"{s1['oncpu_program_ms_per_min']:.1f}")
        xa = a + s4["cpu_xvfb_ms_per_min"]
        xb = b + s1["cpu_xvfb_ms_per_min"]
        lines.append(f"  - for information, with the X server's CPU added: {xa:.1f} vs {xb:.1f} "
                     f"ms/min, {fmt_ratio(ratio(xa, xb))}")
        # Wine keeps a shared-memory surface of the whole window, which grows
        # with the screen for any program (the idle floor alike): the saver's
        # own growth is what it adds to the floor's.
        d = s4["peak_rss_mb"] - s1["peak_rss_mb"]
        f1, f4 = fig("floor", screens[0]), fig("floor", screens[1])
        if f1 and f4:
            own = d - (f4["peak_rss_mb"] - f1["peak_rss_mb"])
            verdict(f"Peak RSS growth from 1024x768 to 3840x2160 at most "
                    f"{MEMORY_HEADROOM_MB:.0f} MB above the idle floor window's",
                    valid and own <= MEMORY_HEADROOM_MB,
                    f"{s4['peak_rss_mb']:.1f} vs {s1['peak_rss_mb']:.1f} MB, +{d:.1f} MB; the floor "
                    f"+{f4['peak_rss_mb'] - f1['peak_rss_mb']:.1f} MB; the saver's own {own:+.1f} MB")
            lines.append(f"  - Wine's shared-memory window surface (RssShmem) is "
                         f"{s1['rss_shmem_mb']:.1f} MB and {s4['rss_shmem_mb']:.1f} MB for the saver")
        # Wine turns each timer message into round trips to its server, so
        # the wake-ups are judged beside the same-job floor's, which has the
        # saver's two timers.
        j1, j4 = fig("job_floor", screens[0]), fig("job_floor", screens[1])
        if j1 and j4:
            w = max(s1["wakeups_program_per_s"], s4["wakeups_program_per_s"])
            jw = max(j1["wakeups_program_per_s"], j4["wakeups_program_per_s"])
            verdict(f"Wake-ups per second at most {WAKEUP_LIMIT}x the same-job floor's",
                    valid and w <= jw * WAKEUP_LIMIT,
                    f"saver process {s1['wakeups_program_per_s']:.2f}/s at 1024x768, "
                    f"{s4['wakeups_program_per_s']:.2f}/s at 3840x2160; same-job floor "
                    f"{j1['wakeups_program_per_s']:.2f}/s and {j4['wakeups_program_per_s']:.2f}/s; "
                    "all threads")
    lines.append("")

    report = "\n".join(lines) + "\n"
    (out / "report.md").write_text(report)
    (out / "report.json").write_text(json.dumps({
        "started": started, "clock_ticks_per_s": CLK_TCK, "warmup_s": args.warmup,
        "measured_s": args.seconds, "core": core_rows, "core_context": core_context,
        "processes": results, "targets": verdicts}, indent=2, default=str))
    print(report)
    log(f"wrote {out / 'report.md'} and {out / 'report.json'}")
    return verdicts
