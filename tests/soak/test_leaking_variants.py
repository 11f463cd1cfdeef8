"""The soak against savers that leak: the real saver with a preloaded library
(leaky/leak_shim.c) that makes it leak one thing, and the Windows saver built
with a leaking SelectObject (leaky/leak_brush.cpp). Each variant runs a short
long run of its own kind only, all at once, and must fail on the figure its
leak raises and on no other. (The real saver passing is `make
test-soak-short` itself, which runs right after these.)"""

from __future__ import annotations

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
NATIVE = ROOT / "build" / "native"

# variant: (kind, the figures its leak must raise)
VARIANTS = {
    # A GC per label paint: the label is painted at every Expose.
    "gc": ("x11", {"x_gcs"}),
    # 4 KiB per Expose, with an Expose every 1-2 s: some 128 KiB in the checked minute.
    "expose": ("x11", {"rss"}),
    # The compositor keeps every buffer and its pool's memory; the saver's own
    # figures stay level, as it freed its side.
    "wl_buffer": ("wayland", {"sway_shm_maps"}),
    # The Windows saver built with a SelectObject that leaks a brush each time
    # (leaky/leak_brush.cpp): two a disc, only the GDI count rises.
    "brush": ("wine", {"gdi_objects"}),
}
LEAKY_SCR = ROOT / "build" / "win64" / "leaky-brush" / "Quillomir.scr"


@pytest.fixture(scope="module")
def soaked(tmp_path_factory):
    """Every variant's verdict, from soaks run side by side."""
    for program in (NATIVE / "quillomir", NATIVE / "wayland" / "quillomir", LEAKY_SCR):
        if not program.exists():
            pytest.fail(f"{program} is missing: build it first (make build-native build-win64)")
    work = tmp_path_factory.mktemp("leaky")
    shim = work / "leak_shim.so"
    compiler = shutil.which("cc") or shutil.which("gcc") or "g++"
    subprocess.run([compiler, "-x", "c", "-shared", "-fPIC", "-O1", "-o", str(shim),
                    str(Path(__file__).parent / "leaky" / "leak_shim.c"), "-ldl"], check=True)
    running = {}
    for leak, (kind, _) in VARIANTS.items():
        how = ["--scr", str(LEAKY_SCR)] if kind == "wine" else \
            ["--preload", str(shim), "--leak", leak]
        running[leak] = subprocess.Popen(
            [sys.executable, str(ROOT / "tools" / "soak" / "soak.py"), "--kinds", kind,
             "--only", "long", "--minutes", "1.5", "--warm-up", "30", "--interval", "10",
             "--no-load", *how, "--out", str(work / leak)],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    found = {}
    for leak, proc in running.items():
        status = proc.wait(timeout=900)
        report = json.loads((work / leak / "report.json").read_text())
        found[leak] = (status, report["verdicts"][VARIANTS[leak][0]])
    return found


@pytest.mark.parametrize("leak", VARIANTS)
def test_a_leaking_saver_fails_on_the_figure_its_leak_raises(soaked, leak):
    status, verdict = soaked[leak]
    assert status == 1, verdict
    assert set(verdict["over"]) == VARIANTS[leak][1], verdict["problems"]
