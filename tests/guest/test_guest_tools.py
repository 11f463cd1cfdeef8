"""The host side of the emulated 32-bit guest, with qemu and the root file
system faked: what `test-i386` reports for each way a guest run can end, what it
hands the guest, and how `build-image` caches an image and refuses to keep a
half-made one.  The real guest runs in `make test-i386` itself; these take
seconds and pin down the verdicts that a slow run would only show by accident."""

from __future__ import annotations

import os
import shutil
import subprocess
import tarfile
import textwrap
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
GUEST = ROOT / "tools" / "guest"
BUILD_FILES = ["Quillomir.scr", "quillomir_ui_probe.exe", "quillomir_probe_hook.dll",
               "quillomir_core_tests.exe", "src/platform/win32/quillomir_win32_tests.exe"]
RELEASE_FILES = {"guest-release/Quillomir-1.0.0.8-x86-setup.exe": "dist",
                 "guest-release/Quillomir-1.0.0.8-x64-setup.exe": "dist",
                 "guest-release/Quillomir-1.0.0.8-windows.zip": "dist",
                 "win64/generated/quillomir_release.json": "win64/generated"}

# Stands in for qemu: finds the shared folder in -virtfs, records the command
# line, and plays the guest as FAKE_GUEST says.
FAKE_QEMU = textwrap.dedent("""\
    #!/usr/bin/env python3
    import os, sys
    from pathlib import Path
    args = sys.argv[1:]
    share = Path(next(a for a in args if a.startswith("local,path=")).split(",")[1][5:])
    calls = Path(os.environ["FAKE_QEMU_CALLS"])
    before = len(calls.read_text().splitlines()) if calls.exists() else 0
    with open(calls, "a") as f:
        f.write(" ".join(args) + "\\n")
    mode = os.environ.get("FAKE_GUEST", "pass")
    if mode == "panic" or (mode == "panic-once" and before == 0):
        # What the serial console shows when the guest's kernel dies; with
        # -no-reboot qemu then ends with 0.
        print("[    1.77] Kernel panic - not syncing: Fatal exception in interrupt\\r")
        sys.exit(0)
    if mode == "qemu-fails":
        print("qemu: could not load kernel", file=sys.stderr)
        sys.exit(1)
    if mode == "no-script":
        sys.exit(0)  # powered off without running the guest script
    (share / "guest.log").write_text("guest says hello\\n== 12 passed in 400s ==\\n")
    (share / "guest.rc").write_text("1\\n" if mode == "cases-fail" else "0\\n")
    """)


@pytest.fixture
def tree(tmp_path, monkeypatch):
    """A copy of the guest tools in a scratch source tree, with stand-in build
    output and a fake qemu first on PATH."""
    root = tmp_path / "src"
    shutil.copytree(GUEST, root / "tools" / "guest")
    for name in ("wine-run", "xwine.py"):
        shutil.copy(ROOT / "tools" / name, root / "tools" / name)
    (root / "tests" / "e2e").mkdir(parents=True)
    shutil.copytree(ROOT / "tests" / "dist", root / "tests" / "dist")
    (root / "tests" / "data").mkdir()
    for name in BUILD_FILES:
        path = root / "build" / "win32" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"MZ" + name.encode())
    for name in RELEASE_FILES:
        path = root / "build" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(name.encode())
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    qemu = bin_dir / "qemu-system-x86_64"
    qemu.write_text(FAKE_QEMU)
    qemu.chmod(0o755)
    monkeypatch.setenv("PATH", f"{bin_dir}:{os.environ['PATH']}")
    monkeypatch.setenv("FAKE_QEMU_CALLS", str(tmp_path / "qemu-calls"))
    monkeypatch.setenv("QUILLOMIR_GUEST_CACHE", str(tmp_path / "cache"))
    image = tmp_path / "image"
    image.mkdir()
    monkeypatch.setenv("QUILLOMIR_GUEST_IMAGE", str(image))
    return root


def qemu_calls(root: Path) -> list[str]:
    calls = root.parent / "qemu-calls"
    return calls.read_text().splitlines() if calls.exists() else []


def run_test_i386(root: Path, *cases: str, guest: str = "pass") -> subprocess.CompletedProcess:
    return subprocess.run([str(root / "tools" / "guest" / "test-i386"), *cases],
                          capture_output=True, text=True, timeout=120,
                          env={**os.environ, "FAKE_GUEST": guest})


def test_a_passing_guest_passes_and_its_log_reaches_the_host(tree):
    r = run_test_i386(tree)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "== 12 passed in 400s ==" in r.stdout
    assert "test-i386: passed" in r.stdout
    [call] = qemu_calls(tree)
    # The emulated CPU must run 32-bit code, and a run must never change the
    # cached image.
    assert "-cpu max,-smap" in call and "-accel tcg" in call and "-snapshot" in call
    share = tree / "build" / "guest"
    for name in BUILD_FILES:
        assert (share / "win32" / Path(name).name).read_bytes() == b"MZ" + name.encode()
    # The installers, and the installer cases that run them.
    for name, there in RELEASE_FILES.items():
        assert (share / "src" / "build" / there / Path(name).name).read_bytes() == name.encode()
    assert (share / "src" / "tests" / "dist" / "test_installer_x86.py").is_file()
    conf = (share / "run.conf").read_text()
    listed = [c for c in (GUEST / "cases.txt").read_text().splitlines()
              if c and not c.startswith("#")]
    assert listed and all(f"tests/e2e/{c}" in conf for c in listed)
    assert "--scr=/opt/quillomir/win32/Quillomir.scr" in conf


def test_cases_named_on_the_command_line_replace_the_list(tree):
    r = run_test_i386(tree, "test_run_mode.py::test_defaults")
    assert r.returncode == 0, r.stdout + r.stderr
    conf = (tree / "build" / "guest" / "run.conf").read_text()
    assert "tests/e2e/test_run_mode.py::test_defaults" in conf
    assert "test_sampling.py" not in conf


@pytest.mark.parametrize("guest, says", [
    ("cases-fail", "test-i386: FAILED (guest rc 1)"),
    ("no-script", "the guest did not run the tests"),
    ("qemu-fails", "the guest did not run the tests"),
])
def test_a_guest_that_failed_or_never_ran_fails_the_target(tree, guest, says):
    r = run_test_i386(tree, guest=guest)
    assert r.returncode != 0
    assert says in r.stdout + r.stderr
    assert "test-i386: passed" not in r.stdout


@pytest.mark.parametrize("guest, rc, boots, says", [
    ("panic-once", 0, 2, "crashed (Kernel panic - not syncing: Fatal exception in interrupt)"
                         " on boot 1 of 3; booting it again"),
    ("panic", 1, 3, "the guest's kernel crashed on each of 3 boots"),
])
def test_a_guest_kernel_panic_boots_the_untouched_image_again(tree, guest, rc, boots, says):
    r = run_test_i386(tree, guest=guest)
    assert r.returncode == rc, r.stdout + r.stderr
    assert says in r.stderr
    calls = qemu_calls(tree)
    assert len(calls) == boots and all("-snapshot" in c for c in calls)
    assert ("test-i386: passed" in r.stdout) == (rc == 0)


@pytest.mark.parametrize("missing, says", [
    ("win32/quillomir_core_tests.exe", "quillomir_core_tests.exe is missing"),
    ("guest-release/Quillomir-1.0.0.8-x86-setup.exe", "the installers are missing"),
])
def test_missing_build_output_fails_before_booting(tree, missing, says):
    (tree / "build" / missing).unlink()
    r = run_test_i386(tree)
    assert r.returncode != 0
    assert says in r.stderr
    assert qemu_calls(tree) == []


# build-image, with make-rootfs replaced by a tiny tarball maker that counts its
# calls, and the guest's preparation played by the fake qemu.

FAKE_ROOTFS = textwrap.dedent("""\
    #!/bin/sh
    echo x >>"$FAKE_ROOTFS_CALLS"
    d=$(mktemp -d)
    mkdir -p "$d/boot" "$d/usr/bin"
    echo kernel >"$d/boot/vmlinuz-6.1"
    echo initrd >"$d/boot/initrd.img-6.1"
    tar -C "$d" -cf "$1" .
    rm -rf "$d"
    """)


@pytest.fixture
def image_tree(tree, monkeypatch):
    rootfs = tree / "tools" / "guest" / "make-rootfs"
    rootfs.write_text(FAKE_ROOTFS)
    monkeypatch.setenv("FAKE_ROOTFS_CALLS", str(tree.parent / "rootfs-calls"))
    monkeypatch.delenv("QUILLOMIR_GUEST_IMAGE")
    return tree


def build_image(root: Path, guest: str = "pass") -> subprocess.CompletedProcess:
    return subprocess.run([str(root / "tools" / "guest" / "build-image")],
                          capture_output=True, text=True, timeout=120,
                          env={**os.environ, "FAKE_GUEST": guest})


def rootfs_calls(root: Path) -> int:
    calls = root.parent / "rootfs-calls"
    return len(calls.read_text().splitlines()) if calls.exists() else 0


def test_an_image_is_built_once_and_then_only_found(image_tree):
    first = build_image(image_tree)
    assert first.returncode == 0, first.stderr
    image = Path(first.stdout.strip())
    assert (image / "ready").exists()
    assert (image / "vmlinuz").read_text() == "kernel\n"
    assert (image / "root.img").stat().st_size == 10 * 1024**3
    [prepare] = qemu_calls(image_tree)
    assert "-snapshot" not in prepare  # the Wine prefix is made into the image

    again = build_image(image_tree)
    assert again.returncode == 0 and Path(again.stdout.strip()) == image
    assert rootfs_calls(image_tree) == 1 and len(qemu_calls(image_tree)) == 1

    # A changed package list is a new image, from a new root file system.
    packages = image_tree / "tools" / "guest" / "packages.txt"
    packages.write_text(packages.read_text() + "hello\n")
    changed = build_image(image_tree)
    assert changed.returncode == 0 and Path(changed.stdout.strip()) != image
    assert rootfs_calls(image_tree) == 2


def test_a_failed_preparation_leaves_no_image_to_find(image_tree):
    r = build_image(image_tree, guest="cases-fail")
    assert r.returncode != 0
    assert "preparing the guest failed" in r.stderr
    cache = image_tree.parent / "cache"
    assert not list(cache.glob("*/ready"))
    # The next try builds again (from the cached root file system) and succeeds.
    r = build_image(image_tree)
    assert r.returncode == 0, r.stderr
    assert (Path(r.stdout.strip()) / "ready").exists()
    assert rootfs_calls(image_tree) == 1


def test_a_panic_while_the_prefix_is_made_starts_the_image_over(image_tree):
    r = build_image(image_tree, guest="panic-once")
    assert r.returncode == 0, r.stderr
    assert "the image is spoilt" in r.stderr
    assert (Path(r.stdout.strip()) / "ready").exists()
    # Both boots wrote into an image; the second into a new one, made from the
    # cached root file system.
    calls = qemu_calls(image_tree)
    assert len(calls) == 2 and not any("-snapshot" in c for c in calls)
    assert rootfs_calls(image_tree) == 1
