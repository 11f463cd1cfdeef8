"""The 32-bit installer, run where 32-bit code runs: in the emulated x86 guest
of `make test-i386`, in its 64-bit prefix, which is how 64-bit Windows looks to
a 32-bit program. Its saver goes to SysWOW64 and its entry to the 32-bit
registry view; it takes the place of the 64-bit copy, and its uninstaller
removes it. (The guest's Wine runs 32-bit programs through its WoW64 mode,
which refuses to make a 32-bit prefix, so 32-bit Windows itself is not tried.)"""

from __future__ import annotations

import os
import re
import zipfile

import pytest

from conftest import DIST
from test_installer import (DESKTOP, ENTRY, LOG, SAVER, SAVER32, UNINSTALLER, existing,
                            install, quillomir_entries, reg_values, runline, setup_log,
                            uninstall)  # noqa: F401  (runline: a fixture)

pytestmark = pytest.mark.skipif(not os.environ.get("QUILLOMIR_GUEST"),
                                reason="32-bit code runs only in the emulated guest "
                                       "(make test-i386)")

UNINSTALLER32 = r"C:\Program Files (x86)\Quillomir\uninstall.exe"


@pytest.fixture
def release(version) -> dict:
    """What the guest is given of the release: the zip and the installers."""
    return {"zip": DIST / f"Quillomir-{version}-windows.zip",
            **{arch: DIST / f"Quillomir-{version}-{arch}-setup.exe" for arch in ("x86", "x64")}}


def test_x86_installer_replaces_the_64_bit_copy_and_uninstalls(wine_session, release, runline):
    _, wine = wine_session
    install(wine, release["x64"])
    assert existing(wine, SAVER) is not None
    install(wine, release["x86"], f"/LOG={LOG}")

    # One copy: the 32-bit one, in the 32-bit view and folders.
    assert quillomir_entries(wine) == [f"/reg:32 HKEY_LOCAL_MACHINE\\{ENTRY[5:]}"]
    entry = reg_values(wine, ENTRY, "/reg:32")
    assert entry["DisplayName"] == "Quillomir (32-bit)"
    assert entry["InstallLocation"] == r"C:\Program Files (x86)\Quillomir"
    assert entry["DisplayIcon"].lower() == SAVER32.lower()
    installed = existing(wine, SAVER32)
    assert installed is not None, "no Quillomir.scr in SysWOW64"
    with zipfile.ZipFile(release["zip"]) as z:
        assert installed.read_bytes() == z.read("x86/Quillomir.scr")
    assert existing(wine, UNINSTALLER32) is not None
    assert existing(wine, SAVER) is None, "the 64-bit saver is still in System32"
    assert existing(wine, UNINSTALLER) is None, "the 64-bit uninstaller is still there"
    assert "Replaced the 64-bit copy" in setup_log(wine)
    # The choice: the 32-bit file's short path, as a 64-bit process names it.
    chosen = wine.reg_query(DESKTOP, "SCRNSAVE.EXE")
    directory, name = chosen.rsplit("\\", 1)
    assert directory.lower() == r"c:\windows\syswow64"
    assert re.fullmatch(r"[^.\\ ]{1,8}\.[^.\\ ]{1,3}", name), f"{name} is not an 8.3 name"

    uninstall(wine, runline, UNINSTALLER32, "/reg:32")
    assert existing(wine, SAVER32) is None
    assert existing(wine, UNINSTALLER32) is None
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None
