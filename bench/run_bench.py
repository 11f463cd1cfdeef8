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

sys.path.insert(0, str(Path(__file__).resolve().parent))
from wine_procfs import processes_of_prefix, reading  # noqa: E402
from wine_report import figures, log, write_reports  # noqa: E402

SCREENS = [(1024, 768), (3840, 2160)]
# name -> (path relative to the win64 build, arguments, the Linux comm Wine gives it)
PROGRAMS = {
    "saver": ("Quillomir.scr", ["/S"], "Quillomir.scr"),
    "naive": ("bench/bench_naive.exe", [], "bench_naive.exe"),
    "floor": ("bench/bench_floor.exe", [], "bench_floor.exe"),
    "job_floor": ("bench/bench_job.exe", [], "bench_job.exe"),
}


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

    verdicts = write_reports(out, started, args, core_rows, core_context, results, PROGRAMS,
                             SCREENS)
    missed = [v for v in verdicts if v["result"] != "met"]
    for v in missed:
        print(f"bench: missed: {v['target']}: {v['result']} ({v['detail']})", file=sys.stderr)
    return 1 if missed else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt as e:
        print(f"bench: interrupted ({e})", file=sys.stderr)
        sys.exit(130)
    except Exception as e:  # noqa: BLE001 - the message is the report here
        print(f"bench: {e}", file=sys.stderr)
        sys.exit(1)
