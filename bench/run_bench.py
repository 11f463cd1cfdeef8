#!/usr/bin/env python3
"""Measures what the saver costs and writes build/bench/report.{md,json}.

1. The core's per-tick work, with Google Benchmark (quillomir_core_bench).
2. The whole process under Wine: the 64-bit saver (/S) and three reference
   programs (floor: an idle window; job floor: the same window doing the saver's
   job at the least, a one-second timer that draws two discs and a ten-second one
   that reads the system's CPU times and memory status; naive: the same timers and
   ellipses, but a full-screen backing bitmap blitted whole every tick), each at
   1024x768 and at 3840x2160, all
   running at once, each in its own Wine prefix (so each has its own wineserver)
   on its own Xvfb display. Readings at t0 (start-up done + warm-up) and t1 (t0 +
   the measured span); CPU and context switches are differences, peak RSS at t1.

The exit status is 1 when a target is missed, with each missed line printed.
Standard library only. Every Xvfb and wineserver started here is stopped again,
also on failure or interrupt.
"""

import argparse
import datetime
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(ROOT / "tools"))

import xwine  # noqa: E402
from xwine import WINE, WINESERVER  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")

SCREENS = [(1024, 768), (3840, 2160)]
# name -> (path relative to the win64 build, arguments, the Linux comm Wine gives it)
PROGRAMS = {
    "saver": ("Quillomir.scr", ["/S"], "Quillomir.scr"),
    "naive": ("bench/bench_naive.exe", [], "bench_naive.exe"),
    "floor": ("bench/bench_floor.exe", [], "bench_floor.exe"),
    "job_floor": ("bench/bench_job.exe", [], "bench_job.exe"),
}
# Criteria, in the order in which they are printed.
MEMORY_HEADROOM_MB = 12.0
SCALING_LIMIT = 1.5
WAKEUP_LIMIT = 1.5


def log(message):
    print(f"[bench {time.strftime('%H:%M:%S')}] {message}", flush=True)


# --- /proc readings --------------------------------------------------------------


def read_text(path):
    try:
        return Path(path).read_text(errors="replace")
    except OSError:
        return None


def read_bytes(path):
    try:
        return Path(path).read_bytes()
    except OSError:
        return None


def environ_of(pid):
    raw = read_bytes(f"/proc/{pid}/environ")
    if raw is None:
        return {}
    env = {}
    for item in raw.split(b"\0"):
        key, sep, value = item.partition(b"=")
        if sep:
            env[key.decode(errors="replace")] = value.decode(errors="replace")
    return env


def comm_of(pid):
    text = read_text(f"/proc/{pid}/comm")
    return text.strip() if text else None


def pids():
    return [int(d) for d in os.listdir("/proc") if d.isdigit()]


def processes_of_prefix(prefix):
    """Every live process whose environment names this Wine prefix: pid -> comm."""
    found = {}
    for pid in pids():
        if environ_of(pid).get("WINEPREFIX") == str(prefix):
            comm = comm_of(pid)
            if comm:
                found[pid] = comm
    return found


def stat_ticks(pid):
    """utime + stime of the whole process (all its threads), in clock ticks."""
    text = read_text(f"/proc/{pid}/stat")
    if text is None:
        return None
    fields = text[text.rindex(")") + 2 :].split()
    # fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    return int(fields[11]) + int(fields[12])


def task_sums(pid):
    """Context switches and on-CPU nanoseconds summed over all threads."""
    voluntary = involuntary = run_ns = 0
    threads = 0
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return None
    for tid in tids:
        status = read_text(f"/proc/{pid}/task/{tid}/status")
        if status is None:
            continue
        threads += 1
        for line in status.splitlines():
            if line.startswith("voluntary_ctxt_switches:"):
                voluntary += int(line.split()[1])
            elif line.startswith("nonvoluntary_ctxt_switches:"):
                involuntary += int(line.split()[1])
        sched = read_text(f"/proc/{pid}/task/{tid}/schedstat")
        if sched:
            run_ns += int(sched.split()[0])
    return {"voluntary": voluntary, "involuntary": involuntary, "run_ns": run_ns,
            "threads": threads}


def memory_kb(pid):
    status = read_text(f"/proc/{pid}/status")
    result = {}
    if status:
        for line in status.splitlines():
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS", "RssAnon", "RssFile", "RssShmem"):
                result[key] = int(rest.split()[0])
    return result


def reading(pid):
    ticks = stat_ticks(pid)
    tasks = task_sums(pid)
    if ticks is None or tasks is None:
        return None
    return {"ticks": ticks, **tasks, **memory_kb(pid), "time": time.monotonic()}


# --- running things ---------------------------------------------------------------


class Bench:
    def __init__(self, args):
        self.args = args
        self.out = Path(args.out).resolve()
        self.win64 = Path(args.win64_build).resolve()
        self.native = Path(args.native_build).resolve()
        self.xservers = []  # Popen
        self.programs = []  # dicts
        self.prefixes = []

    # Wine prefixes: one made by tools/wine-run, then copied, so that start-up costs
    # one wineboot rather than six on two shared cores.
    def make_prefixes(self, names):
        base = self.out / "prefix-base"
        if base.exists():
            shutil.rmtree(base)
        log("creating a Wine prefix (one wineboot, then copies)")
        self.prefixes.append(base)
        xwine.make_prefix(base)
        result = {}
        for name in names:
            prefix = self.out / f"prefix-{name}"
            if prefix.exists():
                shutil.rmtree(prefix)
            shutil.copytree(base, prefix, symlinks=True)
            self.prefixes.append(prefix)
            result[name] = prefix
        return result

    def start_xvfb(self, width, height):
        server = xwine.Xvfb(width, height, first_display=70)
        self.xservers.append(server)
        server.start()
        return server.display, server.proc

    def launch(self, name, screen, prefix):
        relative, arguments, comm = PROGRAMS[name]
        exe = self.win64 / relative
        if not exe.exists():
            raise RuntimeError(f"{exe} is missing; build the win64 tree first")
        display, xproc = self.start_xvfb(*screen)
        env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", DISPLAY=display)
        logfile = open(self.out / f"{prefix.name}.log", "wb")
        proc = subprocess.Popen([WINE, str(exe), *arguments], env=env, stdout=logfile,
                                stderr=subprocess.STDOUT, start_new_session=True)
        self.programs.append({"name": name, "screen": screen, "prefix": prefix, "comm": comm,
                              "display": display, "xvfb": xproc, "launcher": proc,
                              "env": env, "log": logfile})

    def find_pids(self, entry):
        """The Windows process's Linux pid and its wineserver's, under this prefix."""
        procs = processes_of_prefix(entry["prefix"])
        program = [p for p, c in procs.items() if c == entry["comm"]]
        server = [p for p, c in procs.items() if c in ("wineserver", "wineserver64")]
        return (program[0] if len(program) == 1 else None,
                server[0] if len(server) == 1 else None, procs)

    def window_shown(self, entry):
        try:
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                                 env=entry["env"], capture_output=True, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            return False
        return out.returncode == 0 and out.stdout.strip() != ""

    def wait_started(self, timeout=180):
        deadline = time.monotonic() + timeout
        pending = list(self.programs)
        while pending:
            for entry in list(pending):
                pid, server, _ = self.find_pids(entry)
                if pid and server and self.window_shown(entry):
                    entry["pid"], entry["server"] = pid, server
                    entry["shown_at"] = time.monotonic()
                    log(f"{entry['name']} {entry['screen'][0]}x{entry['screen'][1]}: "
                        f"pid {pid}, wineserver {server}, window up")
                    pending.remove(entry)
                elif entry["launcher"].poll() is not None and not pid:
                    raise RuntimeError(f"{entry['name']} at {entry['screen']} exited early; see "
                                       f"{entry['log'].name}")
            if time.monotonic() > deadline:
                raise RuntimeError("programs did not start: " +
                                   ", ".join(f"{e['name']}@{e['screen']}" for e in pending))
            time.sleep(0.5)

    def take(self, label):
        for entry in self.programs:
            others = {p: c for p, c in processes_of_prefix(entry["prefix"]).items()
                      if p not in (entry["pid"], entry["server"])}
            entry[label] = {
                "program": reading(entry["pid"]),
                "wineserver": reading(entry["server"]),
                "xvfb": reading(entry["xvfb"].pid),
                "others": {f"{c}:{p}": reading(p) for p, c in others.items()},
            }

    def cleanup(self):
        for entry in self.programs:
            try:
                subprocess.run([WINESERVER, "-k"], env=entry["env"], timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except Exception:
                pass
        for entry in self.programs:
            proc = entry["launcher"]
            if proc.poll() is None:
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except OSError:
                    pass
            try:
                proc.wait(timeout=10)
            except Exception:
                pass
            entry["log"].close()
        # The prefixes' servers, if one outlived -k (it waits for its clients).
        for prefix in self.prefixes:
            for pid, comm in processes_of_prefix(prefix).items():
                if comm.startswith("wineserver") or comm.endswith(".exe") or comm.endswith(".scr"):
                    try:
                        os.kill(pid, signal.SIGKILL)
                    except OSError:
                        pass
        for server in self.xservers:
            server.stop()


# --- the core benchmarks ----------------------------------------------------------


def run_core(native, out, min_time):
    exe = native / "bench" / "quillomir_core_bench"
    if not exe.exists():
        raise RuntimeError(f"{exe} is missing; build the native tree (libbenchmark-dev needed)")
    json_out = out / "core_bench.json"
    log("core benchmarks")
    subprocess.run([str(exe), f"--benchmark_min_time={min_time}", "--benchmark_repetitions=3",
                    "--benchmark_report_aggregates_only=true", f"--benchmark_out={json_out}",
                    "--benchmark_out_format=json"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    data = json.loads(json_out.read_text())
    rows = []
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        rows.append({"name": b["run_name"], "real_ns": b["real_time"], "cpu_ns": b["cpu_time"],
                     "circles_per_tick": b.get("circles/tick")})
    return rows, data.get("context", {})


# --- figures ----------------------------------------------------------------------


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native-build", default=str(ROOT / "build" / "native"))
    parser.add_argument("--win64-build", default=str(ROOT / "build" / "win64"))
    parser.add_argument("--out", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--warmup", type=float, default=10.0)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--core-min-time", default="0.3")
    args = parser.parse_args()

    out = Path(args.out).resolve()
    out.mkdir(parents=True, exist_ok=True)
    started = datetime.datetime.now().isoformat(timespec="seconds")

    core_rows, core_context = run_core(Path(args.native_build).resolve(), out, args.core_min_time)

    bench = Bench(args)

    def interrupted(signum, _frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, interrupted)
    results = {}
    try:
        names = [f"{n}-{w}x{h}" for n in PROGRAMS for (w, h) in SCREENS]
        prefixes = bench.make_prefixes(names)
        for name in PROGRAMS:
            for screen in SCREENS:
                bench.launch(name, screen, prefixes[f"{name}-{screen[0]}x{screen[1]}"])
        log(f"started {len(bench.programs)} programs; waiting for their windows")
        bench.wait_started()
        t0 = max(e["shown_at"] for e in bench.programs) + args.warmup
        time.sleep(max(0.0, t0 - time.monotonic()))
        bench.take("t0")
        log(f"t0 taken; measuring {args.seconds:.0f} s of steady running")
        time.sleep(args.seconds)
        bench.take("t1")
        log("t1 taken")
        for entry in bench.programs:
            pid, _, _ = bench.find_pids(entry)
            entry["alive_at_t1"] = pid == entry["pid"]
            key = f"{entry['name']}@{entry['screen'][0]}x{entry['screen'][1]}"
            results[key] = {"name": entry["name"], "screen": list(entry["screen"]),
                            "pid": entry["pid"], "wineserver_pid": entry["server"],
                            "figures": figures(entry, args.seconds),
                            "t0": entry["t0"], "t1": entry["t1"]}
    finally:
        bench.cleanup()
        for prefix in bench.prefixes:
            shutil.rmtree(prefix, ignore_errors=True)
            Path(f"{prefix}.lock").unlink(missing_ok=True)

    verdicts = write_reports(out, started, args, core_rows, core_context, results)
    missed = [v for v in verdicts if v["result"] != "met"]
    for v in missed:
        print(f"bench: missed: {v['target']}: {v['result']} ({v['detail']})", file=sys.stderr)
    return 1 if missed else 0


def write_reports(out, started, args, core_rows, core_context, results):
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
                 f"{args.warmup:.0f} s warm-up, all {len(PROGRAMS) * len(SCREENS)} at once)")
    lines.append("")
    lines.append("| Program | Screen | CPU ms/min process | wineserver | process + server "
                 "| x floor | x same-job floor | x naive | on-CPU ms/min (schedstat) | Xvfb ms/min "
                 "| wake-ups/s process | wake-ups/s server | peak RSS MB | RSS above floor MB |")
    lines.append("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name in PROGRAMS:
        for screen in SCREENS:
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
    s1, s4 = fig("saver", SCREENS[0]), fig("saver", SCREENS[1])
    n1 = fig("naive", SCREENS[0])
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
        f1, f4 = fig("floor", SCREENS[0]), fig("floor", SCREENS[1])
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
        j1, j4 = fig("job_floor", SCREENS[0]), fig("job_floor", SCREENS[1])
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


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt as e:
        print(f"bench: interrupted ({e})", file=sys.stderr)
        sys.exit(130)
    except Exception as e:  # noqa: BLE001 - the message is the report here
        print(f"bench: {e}", file=sys.stderr)
        sys.exit(1)
