#!/usr/bin/env python3
"""What the Linux saver costs, on X11 beside an Xlib floor program on Xvfb,
and on Wayland beside a layer-shell floor program on headless sway.

Runs build/native/quillomir in its own window at 1920x1080 (the figure that is
judged), and at 1024x768 and 3840x2160 (to see whether its cost grows with the
screen), bench_x11_floor (an idle full-screen Xlib window that wakes once a
second: the limit no saver can go below) at 1920x1080 and 3840x2160, and
bench_x11_job_floor (the same window doing the saver's job at the least: a
wake a second, /proc/stat and /proc/meminfo read every ten seconds, two
disc-sized areas drawn a second) at 1920x1080, all at once, each on its own
Xvfb. After a warm-up, readings at t0 and t0 + SPAN seconds:

- client CPU: /proc/PID/task/*/schedstat summed over every thread, the
  nanoseconds on a CPU (not the 10 ms ticks of /proc/PID/stat, far too coarse
  for a few milliseconds a minute);
- wake-ups: voluntary context switches per second, over every thread (each
  sleep in poll that ends is one);
- peak RSS: VmHWM at t1.

On Wayland, the saver and bench_wayland_floor (a black layer-shell cover that
wakes once a second and commits nothing) at 1920x1080 and at 3840x2160, and
bench_wayland_job_floor (the cover doing the job: it damages and commits two
disc-sized areas a second on full-size buffers) at 1920x1080, each on its own
headless sway (tools/wayland_session.py, run as nobody when we are root), all
five at once, read the same way; the compositor's CPU is shown beside each.

`--part compositor` instead runs the saver and the same-job floor in turn on
one sway, ROUNDS times each for SPAN seconds, to see what the compositor
spends on either: its spread between rounds of one program against the gap
between the two programs.

Writes build/bench/linux-report.md and linux-report.json; the exit status is 1
when a target is missed, and each missed line is printed. `--part x11` or
`--part wayland` runs one half.
Standard library only; every process started here is stopped again, also on
failure or interrupt.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "native"
sys.path.insert(0, str(ROOT / "tools"))

import xwine  # noqa: E402
from wayland_session import SwaySession  # noqa: E402

CPU_LIMIT = 0.012      # CPU-seconds per minute
WAKEUP_LIMIT = 1.2     # per second
RSS_LIMIT_MIB = 4.0
# Growth with the screen: 3840x2160 has 10.5 times the pixels of 1024x768.
# CPU may differ by noise, so it passes within 1.5 times plus 2 ms a minute.
GROWTH_FACTOR = 1.5
GROWTH_SLACK = 0.002
RSS_GROWTH_MIB = 0.25

WL_CPU_LIMIT = 0.015
# The saver's CPU beside the same-job floor's, on X11 and on Wayland.
JOB_FLOOR_FACTOR = 1.5

RUNS = [  # name, program, width, height
    ("saver-1920x1080", "saver", 1920, 1080),
    ("saver-1024x768", "saver", 1024, 768),
    ("saver-3840x2160", "saver", 3840, 2160),
    ("floor-1920x1080", "floor", 1920, 1080),
    ("floor-3840x2160", "floor", 3840, 2160),
    ("job-floor-1920x1080", "job-floor", 1920, 1080),
]


def log(message: str) -> None:
    print(f"[linux bench {time.strftime('%H:%M:%S')}] {message}", flush=True)


def status_of(path: Path) -> dict:
    status = {}
    for line in path.read_text().splitlines():
        key, _, value = line.partition(":")
        status[key] = value.strip()
    return status


def thread_sums(proc: Path) -> tuple[int, int, int]:
    """On-CPU nanoseconds and voluntary and involuntary switches, summed over
    every thread of the process at `proc` (a /proc/PID folder). A thread
    that ends between the listing and the read is left out: its time is gone
    from every later reading too."""
    cpu_ns = voluntary = involuntary = 0
    for task in (proc / "task").iterdir():
        try:
            cpu = int((task / "schedstat").read_text().split()[0])
            status = status_of(task / "status")
        except (OSError, IndexError, ValueError):
            continue
        cpu_ns += cpu
        voluntary += int(status["voluntary_ctxt_switches"])
        involuntary += int(status["nonvoluntary_ctxt_switches"])
    return cpu_ns, voluntary, involuntary


def reading(pid: int, proc_root: Path = Path("/proc")) -> dict:
    proc = proc_root / str(pid)
    cpu_ns, voluntary, involuntary = thread_sums(proc)
    status = status_of(proc / "status")
    return {
        "cpu_s": cpu_ns / 1e9,
        "voluntary": voluntary,
        "involuntary": involuntary,
        "hwm_kib": int(status["VmHWM"].split()[0]),
    }


def check_built(*programs: Path) -> None:
    for program in programs:
        if not program.exists():
            raise RuntimeError(f"{program} is missing; build the native preset")


def sample(clients: dict, span: float, warmup: float) -> tuple[dict, dict, float]:
    """Readings of every (client, server) pair after the warm-up and `span`
    seconds later, and the seconds between them."""
    log(f"{len(clients)} programs started; warming up for {warmup:.0f} s")
    time.sleep(warmup)
    for name, (client, _) in clients.items():
        if client.poll() is not None:
            raise RuntimeError(f"{name} exited early with status {client.returncode}")
    t0 = {name: (reading(c.pid), reading(s.pid)) for name, (c, s) in clients.items()}
    start = time.monotonic()
    log(f"measuring for {span:.0f} s")
    time.sleep(span)
    t1 = {name: (reading(c.pid), reading(s.pid)) for name, (c, s) in clients.items()}
    return t0, t1, time.monotonic() - start


def rates(runs, t0: dict, t1: dict, elapsed: float, server_key: str) -> dict:
    results = {}
    for name, _, width, height in runs:
        (c0, s0), (c1, s1) = t0[name], t1[name]
        results[name] = {
            "screen": f"{width}x{height}",
            "cpu_s_per_min": (c1["cpu_s"] - c0["cpu_s"]) * 60 / elapsed,
            "wakeups_per_s": (c1["voluntary"] - c0["voluntary"]) / elapsed,
            "involuntary_per_s": (c1["involuntary"] - c0["involuntary"]) / elapsed,
            "peak_rss_mib": c1["hwm_kib"] / 1024,
            server_key: (s1["cpu_s"] - s0["cpu_s"]) * 60 / elapsed,
        }
    return results


def measure(span: float, warmup: float) -> dict:
    programs = {"saver": BUILD / "quillomir", "floor": BUILD / "bench" / "bench_x11_floor",
                "job-floor": BUILD / "bench" / "bench_x11_job_floor"}
    check_built(*programs.values())
    config_home = tempfile.mkdtemp(prefix="quillomir-bench-")  # default settings
    servers, clients = [], {}
    try:
        for name, kind, width, height in RUNS:
            server = xwine.Xvfb(width, height).start()
            servers.append(server)
            env = {"PATH": "/usr/bin:/bin", "DISPLAY": server.display, "XDG_CONFIG_HOME": config_home,
                   "HOME": config_home}
            clients[name] = (subprocess.Popen([str(programs[kind])], env=env), server.proc)
        t0, t1, elapsed = sample(clients, span, warmup)
    finally:
        for client, _ in clients.values():
            xwine.terminate(client, grace=10)
        for server in servers:
            server.stop()
        subprocess.run(["rm", "-rf", config_home])
    return {"span_s": elapsed, "results": rates(RUNS, t0, t1, elapsed, "xvfb_cpu_s_per_min")}


WL_RUNS = [  # name, program, width, height
    ("saver-1920x1080", "saver", 1920, 1080),
    ("saver-3840x2160", "saver", 3840, 2160),
    ("floor-1920x1080", "floor", 1920, 1080),
    ("floor-3840x2160", "floor", 3840, 2160),
    ("job-floor-1920x1080", "job-floor", 1920, 1080),
]


def wayland_programs() -> dict:
    programs = {"saver": BUILD / "quillomir", "floor": BUILD / "bench" / "bench_wayland_floor",
                "job-floor": BUILD / "bench" / "bench_wayland_job_floor"}
    check_built(*programs.values())
    return programs


def start_on(session, programs: dict, kind: str) -> subprocess.Popen:
    config = session.folder / f"config-home-{time.monotonic_ns()}"  # default settings
    config.mkdir()
    program = (session.install_saver(BUILD) if kind == "saver"
               else session.install(programs[kind]))
    return session.popen([program], env={"XDG_CONFIG_HOME": str(config)},
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def measure_wayland(span: float, warmup: float) -> dict:
    programs = wayland_programs()
    sessions, clients = [], {}
    try:
        for name, kind, width, height in WL_RUNS:
            session = SwaySession(outputs=[(width, height)]).start()
            sessions.append(session)
            clients[name] = (start_on(session, programs, kind), session.proc)
        t0, t1, elapsed = sample(clients, span, warmup)
    finally:
        for client, _ in clients.values():
            xwine.terminate(client, grace=10)
        for session in sessions:
            session.stop()
    results = rates(WL_RUNS, t0, t1, elapsed, "sway_cpu_s_per_min")
    for name, _, width, height in WL_RUNS:
        results[name]["buffer_mib"] = width * height * 4 / 2**20
    return {"span_s": elapsed, "results": results}


def verdict(figure: str, value: str, target: str, floor: str, limit: str, met: bool) -> dict:
    """One judged line: `floor` is the same-job floor's figure, `limit` the
    do-nothing floor's, which no saver can go below."""
    return {"figure": figure, "value": value, "target": target, "floor": floor, "limit": limit,
            "met": bool(met)}


def cpu_lines(main: dict, job: dict, idle: dict, absolute: float) -> list[dict]:
    cpu, job_cpu = main["cpu_s_per_min"], job["cpu_s_per_min"]
    shown = dict(value=f"{cpu:.4f} CPU-s/min", floor=f"{job_cpu:.4f}",
                 limit=f"{idle['cpu_s_per_min']:.4f}")
    return [
        verdict("client CPU at 1920x1080", target=f"<= {absolute}", met=cpu <= absolute, **shown),
        verdict("client CPU at 1920x1080 beside the same-job floor",
                target=f"<= same-job floor x{JOB_FLOOR_FACTOR}",
                met=cpu <= job_cpu * JOB_FLOOR_FACTOR, **shown),
        verdict("wake-ups at 1920x1080", f"{main['wakeups_per_s']:.2f} /s", f"<= {WAKEUP_LIMIT}",
                f"{job['wakeups_per_s']:.2f}", f"{idle['wakeups_per_s']:.2f}",
                main["wakeups_per_s"] <= WAKEUP_LIMIT),
    ]


def judge_wayland(data: dict) -> list[dict]:
    r = data["results"]
    main, large = r["saver-1920x1080"], r["saver-3840x2160"]
    floor, floor_large = r["floor-1920x1080"], r["floor-3840x2160"]
    # Flat from 1920x1080 to 3840x2160: within 1.5 times, plus what the floor
    # itself moved between its two screens.
    noise = abs(floor_large["cpu_s_per_min"] - floor["cpu_s_per_min"])
    growth_ok = large["cpu_s_per_min"] <= main["cpu_s_per_min"] * JOB_FLOOR_FACTOR + noise
    verdicts = cpu_lines(main, r["job-floor-1920x1080"], floor, WL_CPU_LIMIT)
    verdicts.append(verdict(
        "CPU growth 1920x1080 -> 3840x2160",
        f"{main['cpu_s_per_min']:.4f} -> {large['cpu_s_per_min']:.4f} CPU-s/min",
        f"<= x{JOB_FLOOR_FACTOR} + floor's {noise:.4f}", "-", "-", growth_ok))
    for run in (main, large):
        verdicts.append(verdict(
            f"peak RSS at {run['screen']}", f"{run['peak_rss_mib']:.2f} MiB",
            f"<= {RSS_LIMIT_MIB} + {run['buffer_mib']:.2f}",
            f"{r['job-floor-' + run['screen']]['peak_rss_mib']:.2f}"
            if "job-floor-" + run["screen"] in r else "-",
            f"{r['floor-' + run['screen']]['peak_rss_mib']:.2f}",
            run["peak_rss_mib"] <= RSS_LIMIT_MIB + run["buffer_mib"]))
    return verdicts


def judge(data: dict) -> list[dict]:
    r = data["results"]
    main, small, large = r["saver-1920x1080"], r["saver-1024x768"], r["saver-3840x2160"]
    floor, job = r["floor-1920x1080"], r["job-floor-1920x1080"]
    cpu_growth_ok = large["cpu_s_per_min"] <= small["cpu_s_per_min"] * GROWTH_FACTOR + GROWTH_SLACK
    rss_growth = large["peak_rss_mib"] - small["peak_rss_mib"]
    return cpu_lines(main, job, floor, CPU_LIMIT) + [
        verdict("peak RSS at 1920x1080", f"{main['peak_rss_mib']:.2f} MiB",
                f"<= {RSS_LIMIT_MIB}", f"{job['peak_rss_mib']:.2f}",
                f"{floor['peak_rss_mib']:.2f}", main["peak_rss_mib"] <= RSS_LIMIT_MIB),
        verdict("CPU growth 1024x768 -> 3840x2160",
                f"{small['cpu_s_per_min']:.4f} -> {large['cpu_s_per_min']:.4f} CPU-s/min",
                f"<= x{GROWTH_FACTOR} + {GROWTH_SLACK}", "-", "-", cpu_growth_ok),
        verdict("RSS growth 1024x768 -> 3840x2160", f"{rss_growth:+.2f} MiB",
                f"<= {RSS_GROWTH_MIB}", "-", "-", rss_growth <= RSS_GROWTH_MIB),
    ]


def report(data: dict, verdicts: list[dict], title: str, where: str, server: str,
           server_key: str) -> str:
    lines = [f"# {title}", "",
             f"Measured over {data['span_s']:.1f} s, every program on its own {where}, all at once.",
             "", "| figure | measured | target | same-job floor | do-nothing floor (limit) | met |",
             "|---|---|---|---|---|---|"]
    for v in verdicts:
        lines.append(f"| {v['figure']} | {v['value']} | {v['target']} | {v['floor']} | "
                     f"{v['limit']} | {'yes' if v['met'] else 'NO'} |")
    lines += ["", "| run | client CPU-s/min | wake-ups/s | involuntary/s | peak RSS MiB | "
              f"{server} CPU-s/min |", "|---|---|---|---|---|---|"]
    for name, r in data["results"].items():
        lines.append(f"| {name} | {r['cpu_s_per_min']:.4f} | {r['wakeups_per_s']:.2f} | "
                     f"{r['involuntary_per_s']:.2f} | {r['peak_rss_mib']:.2f} | "
                     f"{r[server_key]:.4f} |")
    return "\n".join(lines) + "\n"


def missed_lines(verdicts: list[dict]) -> list[str]:
    return [f"missed: {v['figure']}: {v['value']}, target {v['target']}"
            for v in verdicts if not v["met"]]


def measure_compositor(span: float, warmup: float, rounds: int) -> dict:
    """The saver and the same-job floor in turn on one 1920x1080 sway, so
    that both see the same compositor and the same load drifting over time."""
    programs = wayland_programs()
    phases = {"saver": [], "job-floor": []}
    order = []
    session = SwaySession(outputs=[(1920, 1080)]).start()
    try:
        for n in range(rounds * 2):
            # saver, floor, floor, saver, ...: a drift in the load weighs on both alike.
            kind = "saver" if n % 4 in (0, 3) else "job-floor"
            client = start_on(session, programs, kind)
            try:
                time.sleep(warmup)
                if client.poll() is not None:
                    raise RuntimeError(f"{kind} exited early with status {client.returncode}")
                c0, s0, t0 = reading(client.pid), reading(session.proc.pid), time.monotonic()
                time.sleep(span)
                c1, s1, t1 = reading(client.pid), reading(session.proc.pid), time.monotonic()
            finally:
                xwine.terminate(client, grace=10)
            per_min = 60 / (t1 - t0)
            phases[kind].append({"client": (c1["cpu_s"] - c0["cpu_s"]) * per_min,
                                 "sway": (s1["cpu_s"] - s0["cpu_s"]) * per_min})
            order.append(kind)
            log(f"round {n + 1}/{rounds * 2}: {kind}, sway {phases[kind][-1]['sway']:.4f} CPU-s/min")
    finally:
        session.stop()
    return {"span_s": span, "rounds": rounds, "phases": phases, "order": order}


def compositor_ratios(data: dict) -> list[float]:
    """sway's CPU beside the saver over beside the floor, for each pair of
    neighbouring rounds: the load moves between pairs more than within one."""
    sway = {kind: iter(row["sway"] for row in rows) for kind, rows in data["phases"].items()}
    values = [(kind, next(sway[kind])) for kind in data["order"]]
    ratios = []
    for first, second in zip(values[0::2], values[1::2]):
        pair = dict((first, second))
        if pair.get("job-floor", 0) > 0 and "saver" in pair:
            ratios.append(pair["saver"] / pair["job-floor"])
    return ratios


def judge_compositor(data: dict) -> list[dict]:
    ratios = sorted(compositor_ratios(data))
    if not ratios:
        return [verdict("sway's CPU beside the saver", "no pair measured",
                        f"<= x{JOB_FLOOR_FACTOR} beside the same-job floor", "-", "-", False)]
    median = ratios[len(ratios) // 2] if len(ratios) % 2 else \
        (ratios[len(ratios) // 2 - 1] + ratios[len(ratios) // 2]) / 2
    return [verdict("sway's CPU beside the saver, median of paired rounds",
                    f"x{median:.2f} ({', '.join(f'{r:.2f}' for r in ratios)})",
                    f"<= x{JOB_FLOOR_FACTOR} beside the same-job floor", "1.00", "-",
                    median <= JOB_FLOOR_FACTOR)]


def compositor_report(data: dict) -> str:
    lines = ["# What sway spends beside the saver and beside the same-job floor", "",
             f"{data['rounds']} rounds of each, {data['span_s']:.0f} s each, in turn on one "
             "1920x1080 sway.", "", "| program | sway CPU-s/min, each round | mean | spread |",
             "|---|---|---|---|"]
    for kind, rows in data["phases"].items():
        values = [row["sway"] for row in rows]
        mean = sum(values) / len(values)
        lines.append(f"| {kind} | {', '.join(f'{v:.4f}' for v in values)} | {mean:.4f} | "
                     f"{max(values) - min(values):.4f} |")
    return "\n".join(lines) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--span", type=float, default=60.0, help="seconds measured")
    parser.add_argument("--warmup", type=float, default=3.0, help="seconds before t0")
    parser.add_argument("--part", choices=("all", "x11", "wayland", "compositor"), default="all")
    parser.add_argument("--rounds", type=int, default=4, help="rounds of each, for compositor")
    args = parser.parse_args()
    out = ROOT / "build" / "bench"
    out.mkdir(parents=True, exist_ok=True)
    if args.part == "compositor":
        data = measure_compositor(args.span, args.warmup, args.rounds)
        verdicts = judge_compositor(data)
        text = compositor_report(data) + "\n" + "\n".join(
            f"- {v['figure']}: {v['value']}, target {v['target']}: "
            f"{'met' if v['met'] else 'MISSED'}" for v in verdicts) + "\n"
        (out / "compositor-report.md").write_text(text)
        (out / "compositor-report.json").write_text(
            json.dumps({**data, "verdicts": verdicts}, indent=2))
        print(text)
        for line in missed_lines(verdicts):
            print(f"linux bench: Wayland {line}", file=sys.stderr)
        return 1 if missed_lines(verdicts) else 0
    texts, everything, missed = [], {}, []
    if args.part in ("all", "x11"):
        data = measure(args.span, args.warmup)
        verdicts = judge(data)
        texts.append(report(data, verdicts, "Linux saver cost on Xvfb", "Xvfb", "Xvfb",
                            "xvfb_cpu_s_per_min"))
        everything["x11"] = {**data, "verdicts": verdicts}
        missed += [f"X11 {line}" for line in missed_lines(verdicts)]
    if args.part in ("all", "wayland"):
        data = measure_wayland(args.span, args.warmup)
        verdicts = judge_wayland(data)
        texts.append(report(data, verdicts, "Wayland saver cost on headless sway", "sway",
                            "sway", "sway_cpu_s_per_min"))
        everything["wayland"] = {**data, "verdicts": verdicts}
        missed += [f"Wayland {line}" for line in missed_lines(verdicts)]
    text = "\n".join(texts)
    (out / "linux-report.md").write_text(text)
    (out / "linux-report.json").write_text(json.dumps(everything, indent=2))
    print(text)
    log(f"written to {out / 'linux-report.md'}")
    for line in missed:
        print(f"linux bench: {line}", file=sys.stderr)
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
