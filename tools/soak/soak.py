#!/usr/bin/env python3
"""Quillomir's soak: every saver kind runs for a long time on a display of its
own while its figures are sampled, and is started and stopped many times on
another; all of it at once. Writes build/soak/report.md (with an SVG plot per
saver) and report.json; the exit status is 1 when anything rose or was left
behind.

    tools/soak/soak.py                 the long form: 30 minutes, 300, 100, 100 and 100 starts
    tools/soak/soak.py --short         the form `make test` runs: 3 minutes, 100, 25, 25 and 25
    tools/soak/soak.py --minutes 60 --kinds x11,wayland
    tools/soak/soak.py --short --kinds x11 --only long --preload leak.so   (a leaking variant)

Standard library only (plus libXRes through ctypes); everything started here
is stopped again, also on failure or interrupt.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
import traceback
from pathlib import Path

sys.dont_write_bytecode = True
HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(HERE))

import judge  # noqa: E402
import kinds  # noqa: E402
import report  # noqa: E402
import wayland_kind  # noqa: E402
import xwine  # noqa: E402  (kinds put tools/ on the path)

# How long each start runs before it is ended, in turn: before the first
# step, and at several points of the saver's second.
DWELLS = (0.0, 0.3, 0.7, 1.1)
stopping = threading.Event()


def log(job: str, message: str) -> None:
    print(f"[soak {time.strftime('%H:%M:%S')} {job}] {message}", flush=True)


def _disturbing(kind, until: threading.Event, quiet: threading.Lock) -> threading.Thread:
    """A thread that disturbs the saver every one to two seconds until `until`
    is set, apart from the sampling: at one pass-over a sample a small leak per
    repaint would pass. Each disturbance holds `quiet`, which a sample takes so
    that it reads the saver between two disturbances. A failing disturbance is
    logged, not fatal."""
    def run():
        pace = random.Random(0)
        while not until.wait(pace.uniform(1.0, 2.0)):
            try:
                with quiet:
                    kind.disturb()
            except Exception as e:  # noqa: BLE001 - the sampling goes on
                log(kind.name, f"a disturbance failed: {type(e).__name__}: {e}")

    thread = threading.Thread(target=run, name=f"{kind.name} disturbing", daemon=True)
    thread.start()
    return thread


def long_run(kind, minutes: float, interval: float,
             warm_up: float) -> tuple[judge.Series, judge.Verdict]:
    """One saver for `minutes`, a sample of every figure each `interval`
    seconds (with a digest of its picture), disturbed all the while."""
    series = judge.Series(kind.name, informative=set(kind.informative),
                          required=set(kind.required), caps=dict(kind.caps))
    running = kind.start(long_run=True)
    problems = []
    end = running.started + minutes * 60
    next_sample = running.started
    calm, quiet = threading.Event(), threading.Lock()
    disturber = _disturbing(kind, calm, quiet)
    try:
        while not stopping.is_set():
            with quiet:
                # The saver's answer to the last disturbance comes first.
                stopping.wait(kind.settle)
                figures = kind.figures(running)
                picture = kind.picture() if figures is not None else None
            now = time.monotonic()
            if figures is None:
                problems.append(f"the saver ended by itself after {now - running.started:.0f} s "
                                f"(status {running.proc.poll()})")
                break
            series.add(round(now - running.started, 1), {**figures, judge.PICTURE: picture})
            if now >= end:
                break
            next_sample += interval
            stopping.wait(max(0.0, min(next_sample, end) - time.monotonic()))
            if len(series.samples) % 10 == 0:
                log(kind.name, f"{len(series.samples)} samples, rss {figures.get('rss')} KiB")
    finally:
        calm.set()
        disturber.join(30)
    if running.proc.poll() is None:
        ended = kind.end(running)
        if not ended.clean:
            problems.append(f"the end by {kind.end_how}: status {ended.status} "
                            f"{ended.output.strip()[:200]}")
    verdict = judge.judge_series(series, warm_up)
    verdict.problems[:0] = problems
    return series, verdict


def _settle(read, done, seconds: float = 10.0):
    """Reads until `done(read())` (servers and sessions tidy up after a client
    in their own time), or `seconds` pass; returns the last reading."""
    last = [None]

    def same():
        last[0] = read()
        return done(last[0])

    xwine.wait_until(same, seconds, 0.25)
    return last[0]


def _steady(read, judged, seconds: float = 10.0, apart: float = 0.5):
    """A reading whose judged part the next one, `apart` seconds later,
    repeats (or the last one after `seconds`)."""
    last = [read()]

    def same():
        time.sleep(apart)
        now = read()
        repeated, last[0] = judged(now) == judged(last[0]), now
        return repeated

    xwine.wait_until(same, seconds, 0.0)
    return last[0]


def many_starts(kind, count: int) -> judge.Starts:
    """`count` starts, each ended the host's way after a varying time; then one
    killed with SIGKILL mid-run and one more, which must come up as fast as the
    others did. The server's client count and resources, and the processes
    around, must be as they were after a first start that is not counted."""
    result = judge.Starts(kind.name, count, informative=set(kind.server_informative))
    t0 = time.monotonic()
    # What the server spends once, not per client, is paid before the reading
    # the starts are judged against: a session's own clients settling in (sway's
    # background client maps its buffers just after sway answers), and what the
    # first client of a server sets up. A leak per start still shows as the
    # count of starts after it.
    first = kind.start(long_run=False)
    stopping.wait(DWELLS[-1])
    ended = kind.end(first)
    if not ended.clean:
        result.failures.append(f"the first start ended with status {ended.status}: "
                               f"{ended.output.strip()[:200]}")
    result.before = _steady(kind.server_totals, result.judged)
    up = []
    for i in range(count):
        if stopping.is_set():
            break
        running = kind.start(long_run=False)
        up.append(time.monotonic() - running.started)
        stopping.wait(DWELLS[i % len(DWELLS)])
        ended = kind.end(running)
        result.statuses.append(ended.status)
        if ended.status == 0 and ended.output.strip():
            result.failures.append(f"start {i + 1} said: {ended.output.strip()[:200]}")
        if (i + 1) % 25 == 0:
            log(kind.name, f"{i + 1} of {count} starts")
    if up and not stopping.is_set():
        killed = kind.start(long_run=False)
        stopping.wait(1.3)
        kind.kill(killed)
        t = time.monotonic()
        after = kind.start(long_run=False)
        took = time.monotonic() - t
        ended = kind.end(after)
        slowest = max(up)
        result.notes.append(f"up in {statistics.median(up):.2f} s (median), {slowest:.2f} s "
                            f"(slowest); after one was killed with SIGKILL mid-run, the next "
                            f"was up in {took:.2f} s and ended with status {ended.status}")
        if took > 2 * slowest + 1 or not ended.clean:
            result.failures.append(f"after a SIGKILL the next start took {took:.2f} s and "
                                   f"ended with status {ended.status}")
    result.after = _settle(kind.server_totals,
                           lambda now: result.judged(now) == result.judged(result.before))
    result.leftovers = _settle(kind.leftovers, lambda left: left == [])
    result.seconds = time.monotonic() - t0
    return result


class Job(threading.Thread):
    def __init__(self, name: str, make_kind, work, ready: threading.Event | None = None):
        super().__init__(name=name)
        self.make_kind, self.work, self.ready = make_kind, work, ready
        self.kind = None
        self.result = None
        self.error = None

    def run(self) -> None:
        t0 = time.monotonic()
        try:
            if self.ready is not None:
                self.ready.wait()
                if stopping.is_set():
                    return
            self.kind = self.make_kind()
            self.kind.open()
            log(self.name, "started")
            self.result = self.work(self.kind)
        except Exception as e:  # noqa: BLE001 - reported as the job's failure
            self.error = f"{type(e).__name__}: {e}"
            traceback.print_exc()
        finally:
            if self.kind is not None:
                self.kind.close()
            log(self.name, f"done in {time.monotonic() - t0:.0f} s")


KINDS = ("x11", "x11-root", "wine", "wayland")

# A CPU load that moves, so that the label's caption (the minute's average
# load, with --method cpu) changes from minute to minute: busy for a share of
# every 10 s that steps through 0, 40 and 80 %. Niced, it takes only what
# would otherwise be idle, so on a busy machine the caption moves anyway.
LOAD = """
import itertools, time
for share in itertools.cycle((0.0, 0.4, 0.8)):
    for _ in range(6):
        end = time.monotonic() + 10 * share
        while time.monotonic() < end:
            pass
        time.sleep(10 * (1 - share))
"""


def moving_load() -> subprocess.Popen:
    return subprocess.Popen(["nice", "-n", "19", sys.executable, "-c", LOAD],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--short", action="store_true",
                        help="3 minutes (1 min 15 s warm-up, a sample every 15 s); 100 X11, "
                             "25 --root, 25 Wine and 25 Wayland starts")
    # Given on the command line, these three hold with --short too.
    parser.add_argument("--minutes", type=float, help="30, or SOAK_MINUTES")
    parser.add_argument("--warm-up", type=float, help="seconds (120)")
    parser.add_argument("--interval", type=float, help="seconds between samples (30)")
    parser.add_argument("--starts", type=int, default=300, help="starts of the X11 saver")
    parser.add_argument("--wine-starts", type=int, default=100, help="starts under Wine")
    parser.add_argument("--wayland-starts", type=int, default=100, help="starts on sway")
    parser.add_argument("--root-starts", type=int, default=100, help="starts of --root")
    parser.add_argument("--kinds", default=os.environ.get("SOAK_KINDS") or ",".join(KINDS),
                        help=f"which savers, of {', '.join(KINDS)} (or SOAK_KINDS)")
    parser.add_argument("--only", choices=("long", "starts"),
                        help="the long runs only, or the starts only")
    parser.add_argument("--preload", type=Path,
                        help="a library preloaded into every saver (LD_PRELOAD): how the "
                             "soak's tests run leaking variants")
    parser.add_argument("--leak", help="QUILLOMIR_LEAK for the preloaded library: what leaks")
    parser.add_argument("--no-load", action="store_true",
                        help="without the moving CPU load that changes the label's caption")
    parser.add_argument("--out", type=Path, default=ROOT / "build" / "soak")
    parser.add_argument("--native", type=Path, default=ROOT / "build" / "native")
    parser.add_argument("--win64", type=Path, default=ROOT / "build" / "win64")
    parser.add_argument("--scr", type=Path,
                        help="the Windows saver to soak (WIN64/Quillomir.scr); the probe "
                             "stays WIN64's")
    args = parser.parse_args()
    if args.short:
        # The first minute's average (the label's first new caption, the first
        # length from the load) falls inside the warm-up; the second one, at
        # 120 s, inside the checked part.
        timing = (3.0, 75.0, 15.0)
        args.starts, args.wine_starts, args.wayland_starts, args.root_starts = 100, 25, 25, 25
    else:
        timing = (float(os.environ.get("SOAK_MINUTES") or 30), 120.0, 30.0)
    for name, value in zip(("minutes", "warm_up", "interval"), timing):
        if getattr(args, name) is None:
            setattr(args, name, value)
    wanted = set(args.kinds.split(","))
    unknown = wanted - set(KINDS)
    if unknown:
        print(f"soak: unknown kind {', '.join(sorted(unknown))}; the kinds are "
              f"{', '.join(KINDS)}", file=sys.stderr)
        return 2
    if args.preload and not args.preload.is_file():
        print(f"soak: {args.preload} is not a file", file=sys.stderr)
        return 2

    out = args.out.resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    binary, scr = args.native / "quillomir", args.scr or args.win64 / "Quillomir.scr"
    probe = args.win64 / "quillomir_ui_probe.exe"
    needed = {"x11": [binary], "x11-root": [binary], "wine": [scr, probe],
              "wayland": [binary, args.native / "wayland" / "quillomir"]}
    for path in dict.fromkeys(p for kind in sorted(wanted) for p in needed[kind]):
        if not path.exists():
            print(f"soak: {path} is missing; build it first", file=sys.stderr)
            return 1

    def interrupted(signum, frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGTERM, interrupted)
    started = datetime.datetime.now().isoformat(timespec="seconds")
    mark = str(os.getpid())
    base = out / "prefix-base"
    prefix_ready = threading.Event()
    prefix_error = []
    if "wine" in wanted:
        def make_base():
            try:
                log("wine", f"making the Wine prefix in {xwine.make_prefix(base):.0f} s")
            except Exception as e:  # noqa: BLE001
                prefix_error.append(str(e))
            finally:
                prefix_ready.set()
        threading.Thread(target=make_base, name="prefix").start()
    def wine_kind(work: Path, job_mark: str):
        if prefix_error:
            raise RuntimeError(f"no Wine prefix: {prefix_error[0]}")
        return kinds.WineKind(scr, probe, base, work, job_mark)

    def preloaded(kind):
        kind.preload = str(args.preload.resolve()) if args.preload else None
        kind.leak = args.leak
        return kind

    # Each kind: how to make one on a work folder, how many starts, and what it waits for.
    available = {
        "x11": (lambda work, job_mark: kinds.X11Kind(binary, work, job_mark), args.starts, None),
        "x11-root": (lambda work, job_mark: kinds.X11Kind(binary, work, job_mark, root=True),
                     args.root_starts, None),
        "wine": (wine_kind, args.wine_starts, prefix_ready),
        "wayland": (lambda work, job_mark: wayland_kind.WaylandKind(args.native, work, job_mark),
                    args.wayland_starts, None),
    }
    jobs: list[Job] = []
    for name in [n for n in available if n in wanted]:
        make, count, ready = available[name]
        if args.only != "starts":
            jobs.append(Job(f"{name} long run",
                            lambda m=make, n=name: preloaded(m(out / f"{n}-run",
                                                               f"{mark}-{n}-run")),
                            lambda kind: long_run(kind, args.minutes, args.interval,
                                                  args.warm_up), ready))
        if args.only != "long":
            jobs.append(Job(f"{name} starts",
                            lambda m=make, n=name: preloaded(m(out / f"{n}-starts",
                                                               f"{mark}-{n}-starts")),
                            lambda kind, c=count: many_starts(kind, c), ready))
    load = None if args.no_load or args.only == "starts" else moving_load()
    t0 = time.monotonic()
    try:
        for job in jobs:
            job.start()
        for job in jobs:
            while job.is_alive():
                job.join(1.0)
    except KeyboardInterrupt:
        log("soak", "interrupted; stopping every job")
        stopping.set()
        for job in jobs:
            job.join(60)  # each stops at its next wait, and takes down what it started
        return 130
    finally:
        if load is not None:
            xwine.terminate(load)
        if base.exists():
            xwine.kill_wineserver(base)
            shutil.rmtree(base, ignore_errors=True)
    wall = time.monotonic() - t0

    header = [f"Run started {started}; {os.cpu_count()} CPUs; {wall / 60:.1f} minutes of wall "
              f"time, every part at once, each on a display server of its own (an Xvfb, "
              f"or a headless sway).",
              f"Long runs: {args.minutes:g} minutes, a sample every {args.interval:g} s; after a "
              f"warm-up of {args.warm_up:g} s no count may rise and RSS (KiB) by at most "
              f"{judge.RSS_SLACK_KIB} KiB, each from its lowest value after the warm-up; a "
              f"judged figure may not go missing, and the picture must change between two "
              f"samples. The label is shown and the CPU source live"
              f"{'' if load is None else ', under a niced load that moves every 10 s'}; the "
              f"saver is disturbed every 1-2 s (a window passing over it, or an output change).",
              "Figures: rss, rss_anon (KiB), fds, threads, shm_maps and shm_fds (mappings of "
              "and descriptors on shared memory) from /proc; x_* from the X-Resource "
              "extension for the saver's X connections (x_bytes: its pixmaps' bytes in the "
              "server); under Wine, handles, gdi_objects, user_objects and win32_windows as "
              "the probe counts them (a figure that Wine does not report is absent), and the "
              "prefix's wineserver for information. On Wayland the saver's wl_shm pools are "
              "its shm_maps and shm_fds; after its starts, sway's descriptors, shm mappings "
              "and connected clients must be as before (sway's RSS is shown, not judged); the "
              "saver's RSS is judged as rss_private, without rss_shmem (the pages drawn on in "
              "its buffers, which follow the picture, and which have an absolute cap), and "
              "shm_kib (the buffers' whole size) may not rise; sway's descriptors, shm "
              "mappings and clients are sampled during its long run too. cpu_ns: the CPU "
              "time of all the saver's threads."]
    runs, starts, failed = [], [], False
    for job in jobs:
        if job.error or job.result is None:
            header.append(f"- **{job.name} failed**: {job.error or 'it did not run'}")
            failed = True
        elif isinstance(job.result, tuple):
            series, verdict = job.result
            runs.append((job.kind, series, verdict, args.warm_up))
            failed |= not verdict.passed
        else:
            starts.append((job.kind, job.result))
            failed |= bool(job.result.problems())
    path = report.write(out, header, runs, starts)
    (out / "report.json").write_text(json.dumps({
        "started": started, "args": {k: str(v) for k, v in vars(args).items()},
        "runs": {k.name: s.samples for k, s, _, _ in runs},
        "verdicts": {k.name: {"problems": v.problems,
                              "over": [f.name for f in v.figures if not f.passed]}
                     for k, _, v, _ in runs},
        "starts": {k.name: vars(r) for k, r in starts}}, indent=1, default=sorted))
    print(path.read_text())
    log("soak", f"{'FAILED' if failed else 'passed'}; {path} ({wall:.0f} s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
