"""The 64-bit installer run silently under Wine in a fresh prefix: where the
saver lands, the screen saver choice, the uninstall entry, the installed saver
running, upgrades, the uninstaller, whose screen saver choice it may set, and
that it replaces a 32-bit copy. The 32-bit installer cannot execute here; the
emulated guest runs it (tests/i386), and test_release.py checks it as a file."""

from __future__ import annotations

import json
import re
import subprocess
import zipfile
from pathlib import Path

import pytest

import harness
import xwine
from conftest import DIST, ROOT, WIN64

UNINSTALL_ROOT = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ENTRY = UNINSTALL_ROOT + r"\Quillomir"
DESKTOP = r"HKCU\Control Panel\Desktop"
SAVER = r"C:\windows\system32\Quillomir.scr"
UNINSTALLER = r"C:\Program Files\Quillomir\uninstall.exe"
OTHER_SAVER = r"C:\windows\system32\Other.scr"
SAVER32 = r"C:\windows\syswow64\Quillomir.scr"
LOG = r"C:\setup.log"


def existing(wine: xwine.Wine, windows_path: str) -> Path | None:
    """The file behind a Windows path, looked up without regard to case as
    Windows does, or None."""
    drive, rest = windows_path.split(":", 1)
    path = wine.prefix / f"drive_{drive.lower()}"
    for part in filter(None, rest.split("\\")):
        if not path.is_dir():
            return None
        matches = [p for p in path.iterdir() if p.name.lower() == part.lower()]
        if not matches:
            return None
        path = matches[0]
    return path if path.is_file() else None


def reg_values(wine: xwine.Wine, key: str, view: str = "/reg:64") -> dict[str, str] | None:
    """A key's values in one registry view, or None when the key is not there."""
    r = wine.run("reg", "query", key, view)
    if r.returncode != 0:
        return None
    values = {}
    for line in r.stdout.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2] if len(parts) == 3 else ""
    return values


def quillomir_entries(wine: xwine.Wine) -> list[str]:
    """Uninstall entries in either registry view whose name is Quillomir's."""
    found = []
    for view in ("/reg:64", "/reg:32"):
        r = wine.run("reg", "query", UNINSTALL_ROOT, "/s", view)
        key = None
        for line in r.stdout.splitlines():
            if line.startswith("HKEY_"):
                key = line.strip()
            elif "DisplayName" in line and "Quillomir" in line:
                found.append(f"{view} {key}")
    return found


def install(wine: xwine.Wine, installer: Path, *args: str) -> None:
    r = wine.run(str(installer), "/S", *args, timeout=180)
    assert r.returncode == 0, f"{installer.name} failed ({r.returncode})"


def setup_log(wine: xwine.Wine) -> str:
    path = existing(wine, LOG)
    return path.read_text(encoding="utf-16") if path else ""


def uninstall(wine: xwine.Wine, uninstaller: str = UNINSTALLER, view: str = "/reg:64") -> None:
    """The silent uninstaller. It hands over to a copy of itself and returns at
    once, so this waits for its last step: the entry's removal."""
    r = wine.run(uninstaller, "/S", timeout=180)
    assert r.returncode == 0, f"the uninstaller failed ({r.returncode})"
    assert xwine.wait_until(lambda: reg_values(wine, ENTRY, view) is None, 120, 0.5), \
        "the uninstall entry is still there"
    # The copy deletes the original uninstaller, and then ends.
    xwine.wait_until(lambda: existing(wine, uninstaller) is None, 30, 0.5)


@pytest.fixture(scope="module")
def x64_installer(version) -> Path:
    path = DIST / f"Quillomir-{version}-x64-setup.exe"
    if not path.is_file():
        pytest.fail("run `make dist` first")
    return path


@pytest.fixture(scope="module")
def newer_installer(tmp_path_factory, identity) -> Path:
    """The same payload as a later version, to upgrade to."""
    major, minor, patch, tweak = identity["version"].split(".")
    newer = f"{major}.{minor}.{patch}.{int(tweak) + 1}"
    out = tmp_path_factory.mktemp("newer") / f"Quillomir-{newer}-x64-setup.exe"
    subprocess.run(["makensis", "-V1", "-DARCH=x64", f"-DVERSION={newer}",
                    f"-DFILE_VERSION_TEXT={newer}", f"-DHOMEPAGE={identity['homepage']}",
                    f"-DPAYLOAD={ROOT / 'build' / 'win64' / 'Quillomir.scr'}",
                    f"-DOUTFILE={out}", str(ROOT / "dist" / "quillomir.nsi")],
                   check=True, capture_output=True)
    return out


def test_install_run_and_uninstall(wine_session, x64_installer, version):
    x, wine = wine_session
    wine.reg_set(harness.SETTINGS_KEY, "CrawletColor", "255")
    wine.reg_set(harness.SETTINGS_KEY, "DisplayValue", "1")
    wine.reg_set(DESKTOP, "ScreenSaveTimeOut", "420")
    install(wine, x64_installer)

    # The file, in the native system folder.
    installed = existing(wine, SAVER)
    assert installed is not None, "no Quillomir.scr in C:\\windows\\system32"
    with zipfile.ZipFile(DIST / f"Quillomir-{version}-windows.zip") as z:
        assert installed.read_bytes() == z.read("x64/Quillomir.scr")

    # The choice: a short 8.3 path to that file; the wait time untouched.
    chosen = wine.reg_query(DESKTOP, "SCRNSAVE.EXE")
    assert chosen, "SCRNSAVE.EXE is not set"
    directory, name = chosen.rsplit("\\", 1)
    assert directory.lower() == r"c:\windows\system32"
    assert re.fullmatch(r"[^.\\ ]{1,8}\.[^.\\ ]{1,3}", name), f"{name} is not an 8.3 name"
    assert wine.reg_query(DESKTOP, "ScreenSaveTimeOut") == "420"

    # The entry: name, version, publisher, size, and a quiet uninstaller.
    entry = reg_values(wine, ENTRY)
    assert entry is not None, "no uninstall entry"
    assert entry["DisplayName"].startswith("Quillomir")
    assert entry["DisplayVersion"] == version
    assert entry["Publisher"]
    size_kib = int(entry["EstimatedSize"], 16)
    assert installed.stat().st_size // 1024 <= size_kib < installed.stat().st_size // 1024 + 1024
    assert entry["QuietUninstallString"].endswith("/S")
    assert quillomir_entries(wine) == [f"/reg:64 HKEY_LOCAL_MACHINE\\{ENTRY[5:]}"]

    # The saver as Windows would start it, from the chosen short path: it runs,
    # and a key ends it.
    saver = wine.start(chosen, "/S")
    wid = x.wait_window(xwine.SAVER_CAPTION, 40)
    assert wid is not None, "the installed saver showed no window"
    x.xdotool("windowactivate", "--sync", str(wid))
    x.xdotool("key", "a")
    assert harness.wait_exit(saver, 20) == 0, "the installed saver did not close on a key"

    # Uninstalling removes the file, the entry and the choice, and keeps the settings.
    uninstall(wine)
    assert existing(wine, SAVER) is None, "the saver is still installed"
    assert existing(wine, UNINSTALLER) is None, "the uninstaller is still there"
    assert reg_values(wine, ENTRY) is None, "the uninstall entry is still there"
    assert quillomir_entries(wine) == []
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None, "SCRNSAVE.EXE still points at it"
    assert wine.reg_query(DESKTOP, "ScreenSaveTimeOut") == "420"
    assert wine.reg_query(harness.SETTINGS_KEY, "CrawletColor") == "255"
    assert wine.reg_query(harness.SETTINGS_KEY, "DisplayValue") == "1"


def test_installing_again_and_upgrading_keep_one_entry(wine_session, x64_installer,
                                                       newer_installer, version):
    _, wine = wine_session
    install(wine, x64_installer)
    install(wine, x64_installer)
    assert len(quillomir_entries(wine)) == 1
    assert reg_values(wine, ENTRY)["DisplayVersion"] == version

    install(wine, newer_installer)
    assert len(quillomir_entries(wine)) == 1
    assert reg_values(wine, ENTRY)["DisplayVersion"] != version
    assert existing(wine, SAVER) is not None

    uninstall(wine)
    assert quillomir_entries(wine) == []
    assert existing(wine, SAVER) is None


def test_another_saver_chosen_by_the_user_is_left_alone(wine_session, x64_installer):
    _, wine = wine_session
    # Keeping the current choice at install time...
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", OTHER_SAVER)
    install(wine, x64_installer, "/KEEPSAVER")
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") == OTHER_SAVER

    # ...and at uninstall time, when the user picked another saver after installing.
    install(wine, x64_installer)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") != OTHER_SAVER
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", OTHER_SAVER)
    uninstall(wine)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") == OTHER_SAVER
    assert existing(wine, SAVER) is None

    # The long form of Quillomir's own path is recognised as Quillomir too.
    install(wine, x64_installer)
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", SAVER.upper())
    uninstall(wine)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None


@pytest.fixture(scope="module")
def fake_wtsapi32(tmp_path_factory) -> Path:
    """A wtsapi32.dll that names FAKE_DESKTOP_USER as the user at the desktop."""
    dll = tmp_path_factory.mktemp("fake") / "wtsapi32.dll"
    subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-O2", "-Wl,--kill-at", "-o", str(dll),
                    str(ROOT / "tests" / "dist" / "fake" / "wtsapi32.c")], check=True)
    return dll


def test_another_accounts_setup_leaves_the_screen_saver_choice_alone(
        wine_session, x64_installer, fake_wtsapi32, version):
    """Elevated with an administrator's password (another account at the
    desktop), or run as SYSTEM (no one at the desktop), the installer's HKCU is
    not the desktop user's: it sets nothing there, and says how to pick it."""
    x, wine = wine_session
    system32 = existing(wine, r"C:\windows\system32\wtsapi32.dll")
    system32.unlink()  # a hard link into the shared base prefix
    system32.write_bytes(fake_wtsapi32.read_bytes())

    def env(desktop_user: str) -> dict:
        return {**wine.env(), "FAKE_DESKTOP_USER": desktop_user,
                "WINEDLLOVERRIDES": wine.env()["WINEDLLOVERRIDES"] + ";wtsapi32=n"}

    r = subprocess.run([xwine.WINE, str(x64_installer), "/S", f"/LOG={LOG}"], env=env(""),
                       capture_output=True, timeout=180)
    assert r.returncode == 0
    assert existing(wine, SAVER) is not None
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None
    assert "Screen saver not set" in setup_log(wine)
    assert "no user is logged on at this desktop" in setup_log(wine)

    # The dialogs, for a standard user who typed an administrator's password.
    title = f"Quillomir (64-bit) {version} Setup "  # the pages' empty subcaption follows
    setup = subprocess.Popen([xwine.WINE, str(x64_installer), f"/LOG={LOG}"],
                             env=env("OFFICE\\desk"), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)

    def probe(*args: str) -> subprocess.CompletedProcess:
        return wine.run(str(WIN64 / "quillomir_ui_probe.exe"), *args, timeout=30)

    assert xwine.wait_until(lambda: probe("click", title, "&Install").returncode == 0, 60, 1), \
        "no components page with an Install button"
    texts = xwine.wait_until(
        lambda: [t for t in map(json.loads, probe("texts", title).stdout.splitlines())
                 if "not your screen saver yet" in t], 120, 1)
    assert texts, "the finish page does not say that the screen saver was left alone"
    assert "Settings > Personalization > Lock screen > Screen saver" in texts[0]
    assert probe("click", title, "&Finish").returncode == 0
    assert setup.wait(60) == 0
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None
    assert "OFFICE\\desk is logged on at this desktop" in setup_log(wine)


def test_a_32_bit_copy_is_replaced(wine_session, x64_installer):
    """One Quillomir on 64-bit Windows: the x64 installer removes the copy that
    the x86 installer put there, and moves the choice of it to its own file."""
    _, wine = wine_session
    r = wine.run("reg", "add", ENTRY, "/v", "DisplayName", "/d", "Quillomir (32-bit)", "/f",
                 "/reg:32")
    assert r.returncode == 0
    copy32 = wine.prefix / "drive_c" / "windows" / "syswow64" / "Quillomir.scr"
    copy32.write_bytes((WIN64 / "Quillomir.scr").read_bytes())
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", SAVER32)

    install(wine, x64_installer, "/KEEPSAVER")
    assert quillomir_entries(wine) == [f"/reg:64 HKEY_LOCAL_MACHINE\\{ENTRY[5:]}"]
    assert existing(wine, SAVER32) is None
    assert existing(wine, SAVER) is not None
    chosen = wine.reg_query(DESKTOP, "SCRNSAVE.EXE")
    assert chosen.lower().startswith(r"c:\windows\system32\quil")
