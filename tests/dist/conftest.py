"""Shared pieces of the release tests: where the release and the builds are,
and private Xvfb displays and Wine prefixes built from tests/e2e/harness.py."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
sys.path.insert(0, str(ROOT / "tests" / "exe"))

import harness  # noqa: E402
import xwine  # noqa: E402  (harness put tools/ on the path)

DIST = ROOT / "build" / "dist"
GNOME_UUID = "quillomir@quillomir.example.org"
DEB_PACKAGES = ("quillomir", "quillomir-settings", "quillomir-dbgsym", "quillomir-settings-dbgsym")
WINGET_MANIFESTS = {"winget-version": "Quillomir.Quillomir.yaml",
                    "winget-locale": "Quillomir.Quillomir.locale.en-US.yaml",
                    "winget-installer": "Quillomir.Quillomir.installer.yaml"}
WIN64 = ROOT / "build" / "win64"


@pytest.fixture(scope="session")
def identity() -> dict:
    """The version and web address that CMake wrote from project(VERSION)."""
    return json.loads((WIN64 / "generated" / "quillomir_release.json").read_text())


@pytest.fixture(scope="session")
def version(identity) -> str:
    return identity["version"]


WINDOWS_PRODUCTS = ("zip", "x86", "x64")


def deb_arch() -> str:
    return subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                          check=True).stdout.strip()


@pytest.fixture(scope="session")
def deb_version() -> str:
    """The packages' version, upstream-revision, from debian/changelog."""
    return subprocess.run(["dpkg-parsechangelog", "-l", str(ROOT / "debian" / "changelog"),
                           "-S", "Version"], capture_output=True, text=True,
                          check=True).stdout.strip()


@pytest.fixture(scope="session")
def release(version, deb_version) -> dict:
    """The files that `make dist` wrote; the tests expect it to have run."""
    files = {
        "zip": DIST / f"Quillomir-{version}-windows.zip",
        "x86": DIST / f"Quillomir-{version}-x86-setup.exe",
        "x64": DIST / f"Quillomir-{version}-x64-setup.exe",
        "tarball": DIST / f"quillomir-{version}.tar.gz",
        **{package: DIST / f"{package}_{deb_version}_{deb_arch()}.deb"
           for package in DEB_PACKAGES},
        "orig": DIST / f"quillomir_{version}.orig.tar.gz",
        "dsc": DIST / f"quillomir_{deb_version}.dsc",
        "debian-tarball": DIST / f"quillomir_{deb_version}.debian.tar.xz",
        "changes": DIST / f"quillomir_{deb_version}_{deb_arch()}.changes",
        "buildinfo": DIST / f"quillomir_{deb_version}_{deb_arch()}.buildinfo",
        **{kind: DIST / "winget" / name for kind, name in WINGET_MANIFESTS.items()},
        "gnome-extension": DIST / f"{GNOME_UUID}.shell-extension.zip",
        "sums": DIST / "SHA256SUMS",
    }
    missing = [str(p) for p in files.values() if not p.is_file()]
    if missing:
        pytest.fail("run `make dist` first; missing: " + ", ".join(missing))
    return files


@pytest.fixture(scope="session")
def base_prefix(tmp_path_factory) -> Path:
    """One freshly made Wine prefix for the session; each test clones it. The
    emulated guest names the prefix its image holds (making one takes minutes)."""
    given = os.environ.get("QUILLOMIR_BASE_PREFIX")
    if given:
        yield Path(given)
        return
    prefix = tmp_path_factory.mktemp("wine") / "base"
    xwine.make_prefix(prefix)
    yield prefix
    xwine.kill_wineserver(prefix)


@pytest.fixture
def wine_session(base_prefix, tmp_path):
    """A private display and a private clone of the fresh prefix."""
    x = xwine.Xvfb(1024, 768, log=tmp_path / "xvfb.log").start()
    prefix = tmp_path / "prefix"
    xwine.clone_prefix(base_prefix, prefix)
    wine = xwine.Wine(prefix, x.display, log=tmp_path / "wine.log")
    # One wineserver for the whole test: otherwise every short command (each
    # `reg query`) would start Wine's services afresh, some ten seconds each.
    subprocess.run([xwine.WINESERVER, "-p"], env=wine.env(), timeout=60, check=True)
    # The services that the first command starts outlive it; started here, with
    # no pipe to inherit, they cannot hold a later command's output open.
    subprocess.run([xwine.WINE, "cmd", "/c", "exit"], env=wine.env(), timeout=180,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    try:
        yield x, wine
    finally:
        wine.shutdown()
        x.stop()
        shutil.rmtree(prefix, ignore_errors=True)
