"""The Linux bench's readings and verdicts: CPU counted over every thread, and
a missed target reported by its line."""

from __future__ import annotations

import subprocess
import sys
import time
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import run_linux_bench as bench  # noqa: E402

# A process whose main thread sleeps while a second thread spins until told to stop.
SPINNER = """
import sys, threading, time
stop = threading.Event()
def spin():
    while not stop.is_set():
        pass
threading.Thread(target=spin).start()
print("up", flush=True)
sys.stdin.readline()
stop.set()
"""


def test_cpu_spent_by_a_second_thread_is_counted():
    child = subprocess.Popen([sys.executable, "-c", SPINNER], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "up\n"
        before = bench.reading(child.pid)
        deadline = time.monotonic() + 30
        while bench.reading(child.pid)["cpu_s"] - before["cpu_s"] < 0.2:
            assert time.monotonic() < deadline, "the spinning thread's time was never counted"
            time.sleep(0.1)
    finally:
        child.communicate("stop\n", timeout=30)


def run(cpu: float, wakeups: float = 1.0, rss: float = 3.0) -> dict:
    return {"screen": "", "cpu_s_per_min": cpu, "wakeups_per_s": wakeups,
            "involuntary_per_s": 0.0, "peak_rss_mib": rss}


@pytest.mark.parametrize("saver_cpu, job_cpu, missed", [
    (0.0100, 0.0080, []),
    (0.0115, 0.0070, ["client CPU at 1920x1080 beside the same-job floor"]),
    (0.0130, 0.0100, ["client CPU at 1920x1080"]),
])
def test_x11_verdicts_name_each_missed_target(saver_cpu, job_cpu, missed):
    results = {"saver-1920x1080": run(saver_cpu), "saver-1024x768": run(saver_cpu),
               "saver-3840x2160": run(saver_cpu), "floor-1920x1080": run(0.005),
               "floor-3840x2160": run(0.005), "job-floor-1920x1080": run(job_cpu)}
    lines = bench.missed_lines(bench.judge({"results": results}))
    assert [line.split(": ")[1] for line in lines] == missed


@pytest.mark.parametrize("large_rss, missed", [
    (30.0, []),
    (40.0, ["peak RSS at 3840x2160"]),
])
def test_wayland_verdicts_name_each_missed_target(large_rss, missed):
    def sized(r: dict, width: int, height: int) -> dict:
        return {**r, "screen": f"{width}x{height}", "buffer_mib": width * height * 4 / 2**20}

    results = {"saver-1920x1080": sized(run(0.012, rss=6.0), 1920, 1080),
               "saver-3840x2160": sized(run(0.012, rss=large_rss), 3840, 2160),
               "floor-1920x1080": sized(run(0.003), 1920, 1080),
               "floor-3840x2160": sized(run(0.003), 3840, 2160),
               "job-floor-1920x1080": sized(run(0.010), 1920, 1080)}
    lines = bench.missed_lines(bench.judge_wayland({"results": results}))
    assert [line.split(": ")[1] for line in lines] == missed


@pytest.mark.parametrize("saver, floor, met", [
    # Each pair is judged on its own: a load that doubles between pairs
    # moves both programs' rounds alike and must not count against the saver.
    ([0.26, 0.25, 0.50, 0.52], [0.25, 0.24, 0.49, 0.51], True),
    ([0.40, 0.41, 0.80, 0.79], [0.25, 0.24, 0.49, 0.51], False),
])
def test_the_compositor_is_judged_on_paired_rounds(saver, floor, met):
    order = ["saver", "job-floor", "job-floor", "saver"] * 2
    saver_rows, floor_rows = iter(saver), iter(floor)
    phases = {"saver": [], "job-floor": []}
    for kind in order:
        phases[kind].append({"sway": next(saver_rows if kind == "saver" else floor_rows)})
    (line,) = bench.judge_compositor({"phases": phases, "order": order})
    assert line["met"] is met
