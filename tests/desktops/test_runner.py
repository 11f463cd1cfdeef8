"""The matrix runner's own safety and its table of desktops: an unpacked root
is deleted only through no mount (its /dev is the machine's), and each
desktop's definition holds together."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
TOOLS = Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS / "desktops"))

from desktops import DESKTOPS, SUITES  # noqa: E402

REMOVE = r'''
import importlib.machinery, os, subprocess, sys
from pathlib import Path
runner = importlib.machinery.SourceFileLoader("run_matrix", sys.argv[1]).load_module()
root, device = Path(sys.argv[2]), Path(sys.argv[3])
(root / "dev").mkdir(parents=True)
subprocess.run(["mount", "--bind", str(device), str(root / "dev")], check=True)
runner.remove_root(root)
print(root.exists(), (device / "node").exists())
'''


@pytest.mark.skipif(os.geteuid() != 0 or shutil.which("unshare") is None,
                    reason="needs root to mount in a namespace of its own")
def test_the_root_goes_but_what_was_mounted_in_it_stays(tmp_path):
    device = tmp_path / "device"
    device.mkdir()
    (device / "node").write_text("the machine's")
    r = subprocess.run(["unshare", "--mount", "--propagation", "private", sys.executable, "-c",
                        REMOVE, str(TOOLS / "desktops" / "run-matrix"), str(tmp_path / "root"),
                        str(device)], capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["False", "True"]


@pytest.mark.parametrize("desktop", DESKTOPS, ids=lambda d: d.name)
def test_each_desktop_is_defined_whole(desktop):
    # Every file its command line names under {home} is one the runner writes.
    named = {m for arg in desktop.command for m in re.findall(r"\{home\}/([^/\s]+)", arg)}
    written = {name.split("/")[0] for name in desktop.files}
    assert named <= written
    for text in desktop.files.values():
        text.format(run="/run", home="/home")  # braces meant for the file are doubled
    assert desktop.capture in (None, "grim", "kwin", "gnome")
    assert desktop.bus or desktop.bus_name is None, "a bus name needs a bus"
    assert bool(desktop.diagnose) == bool(desktop.diagnose_grep)
    assert desktop.suite in SUITES
    assert bool(desktop.not_run_if) == bool(desktop.not_run_why)
    re.compile(desktop.not_run_if)
    assert not desktop.crawlet_on or desktop.crawlet_on in desktop.outputs
    assert desktop.command or not (desktop.files or desktop.env or desktop.check)


def test_desktop_names_are_unique_for_their_log_folders():
    folders = [d.name.replace(" ", "-").lower() for d in DESKTOPS]
    assert len(set(folders)) == len(folders)
