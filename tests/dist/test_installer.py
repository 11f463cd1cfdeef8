"""The 64-bit installer run silently under Wine in a fresh prefix: where the
saver lands, the screen saver choice, the uninstall entry, the installed saver
running, a saver in use at uninstall time, upgrades, /D=, the uninstaller run
by the entry's own command, whose screen saver choice setup sets and clears,
one setup at a time, and that it replaces a 32-bit copy.

What Wine cannot show: it has one user, so the desktop user's hive under
HKEY_USERS\\<SID> is a key made with `reg add` (Wine's reg has no `load`), and
who is at the desktop comes from a stand-in wtsapi32.dll; the SID itself is
Wine's own answer for the account named. A restart is not tried: the tests
read the deletes that Windows would do at the next start.

The 32-bit installer cannot execute here; the emulated guest runs it
(tests/i386), and test_release.py checks it as a file."""

from __future__ import annotations

import json
import re
import shutil
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
FAKE = ROOT / "tests" / "dist" / "fake"
RUNLINE = r"C:\runline.exe"
PENDING = r"HKLM\System\CurrentControlSet\Control\Session Manager"
# An account that Wine's LookupAccountName knows besides the one it runs as,
# standing for the standard user at the desktop.
DESK_USER, DESK_SID = "NT AUTHORITY\\LOCAL SERVICE", "S-1-5-19"
DESK_DESKTOP = rf"HKU\{DESK_SID}\Control Panel\Desktop"


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


def mingw(source: Path, out: Path, *flags: str) -> Path:
    subprocess.run(["x86_64-w64-mingw32-gcc", "-O2", "-o", str(out), str(source), *flags],
                   check=True)
    return out


@pytest.fixture(scope="session")
def runline(tmp_path_factory) -> Path:
    """The helper that runs a command line as written (the emulated guest,
    which has no compiler, is given one built beforehand)."""
    built = FAKE / "runline.exe"
    if built.is_file():
        return built
    return mingw(FAKE / "runline.c", tmp_path_factory.mktemp("runline") / "runline.exe",
                 "-municode", "-mwindows", "-lshell32")


def run_line(wine: xwine.Wine, runline: Path, command: str, env: dict | None = None) -> int:
    """Runs a Windows command line as written; returns its whole exit code."""
    shutil.copy(runline, wine.prefix / "drive_c" / "runline.exe")
    r = subprocess.run([xwine.WINE, RUNLINE, command], env=env or wine.env(),
                       capture_output=True, text=True, timeout=180)
    assert r.stdout.strip(), f"runline printed nothing ({r.returncode})"
    return int(r.stdout.split()[-1])


def run_registered(wine: xwine.Wine, runline: Path, view: str = "/reg:64",
                   env: dict | None = None) -> int:
    """Runs the entry's QuietUninstallString as Windows tools do, with /LOG=
    put before the _?= that must come last."""
    command = reg_values(wine, ENTRY, view)["QuietUninstallString"]
    return run_line(wine, runline, command.replace(" _?=", f" /LOG={LOG} _?="), env)


def uninstall(wine: xwine.Wine, runline: Path, uninstaller: str = UNINSTALLER,
              view: str = "/reg:64", code: int = 0, env: dict | None = None) -> None:
    """The entry's silent uninstall: when its command returns, it is done."""
    assert run_registered(wine, runline, view, env) == code
    assert reg_values(wine, ENTRY, view) is None, "the command returned before the uninstall"
    # A copy of the uninstaller deletes its file once it has ended.
    assert xwine.wait_until(lambda: existing(wine, uninstaller) is None, 60, 0.5), \
        "the uninstaller is still there"


def pending_deletes(wine: xwine.Wine) -> list[str]:
    """The files that Windows deletes at the next start, lower case."""
    r = wine.run("reg", "query", PENDING, "/v", "PendingFileRenameOperations")
    value = r.stdout.split("REG_MULTI_SZ", 1)[1].strip() if "REG_MULTI_SZ" in r.stdout else ""
    return [p.lower().removeprefix("\\??\\") for p in value.split("\\0") if p]


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


def test_install_run_and_uninstall(wine_session, x64_installer, version, runline):
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
    assert entry["QuietUninstallString"] == r'"C:\Program Files\Quillomir\uninstall.exe" /S ' \
        r"_?=C:\Program Files\Quillomir"
    assert quillomir_entries(wine) == [f"/reg:64 HKEY_LOCAL_MACHINE\\{ENTRY[5:]}"]

    # The saver as Windows would start it, from the chosen short path.
    saver = wine.start(chosen, "/S")
    wid = x.wait_window(xwine.SAVER_CAPTION, 40)
    assert wid is not None, "the installed saver showed no window"

    # Uninstalled while it runs: its file is moved aside and deleted at the
    # next start, which the exit code and the log ask for.
    uninstall(wine, runline, code=3010)
    assert existing(wine, SAVER) is None, "the running saver's path is still taken"
    pending = pending_deletes(wine)
    assert any(re.fullmatch(r"c:\\windows\\system32\\quillomir\.scr\.\d+\.old", p)
               for p in pending), pending
    assert "A restart of Windows is needed to finish" in setup_log(wine)
    # Installed again before that restart: the fresh file is not what the
    # restart deletes.
    install(wine, x64_installer)
    assert existing(wine, SAVER) is not None
    assert SAVER.lower() not in pending_deletes(wine)
    x.xdotool("windowactivate", "--sync", str(wid))
    x.xdotool("key", "a")
    assert harness.wait_exit(saver, 20) == 0, "the installed saver did not close on a key"

    # Uninstalling removes the file, the entry and the choice, and keeps the settings.
    uninstall(wine, runline)
    assert existing(wine, SAVER) is None, "the saver is still installed"
    assert existing(wine, UNINSTALLER) is None, "the uninstaller is still there"
    assert reg_values(wine, ENTRY) is None, "the uninstall entry is still there"
    assert quillomir_entries(wine) == []
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None, "SCRNSAVE.EXE still points at it"
    assert wine.reg_query(DESKTOP, "ScreenSaveTimeOut") == "420"
    assert wine.reg_query(harness.SETTINGS_KEY, "CrawletColor") == "255"
    assert wine.reg_query(harness.SETTINGS_KEY, "DisplayValue") == "1"


def test_installing_again_and_upgrading_keep_one_entry_and_the_folder(
        wine_session, x64_installer, newer_installer, version, runline):
    """/D= names the uninstaller's folder; installing again and upgrading
    without it keep that folder and the one entry."""
    _, wine = wine_session
    folder = r"C:\Apps\Quillomir"
    install(wine, x64_installer, f"/D={folder}")
    install(wine, x64_installer)
    assert len(quillomir_entries(wine)) == 1
    assert reg_values(wine, ENTRY)["DisplayVersion"] == version

    install(wine, newer_installer)
    assert len(quillomir_entries(wine)) == 1
    entry = reg_values(wine, ENTRY)
    assert entry["DisplayVersion"] != version
    assert entry["InstallLocation"] == folder
    assert existing(wine, folder + r"\uninstall.exe") is not None
    assert existing(wine, UNINSTALLER) is None, "an uninstaller went to the default folder"
    assert existing(wine, SAVER) is not None

    uninstall(wine, runline, folder + r"\uninstall.exe")
    assert quillomir_entries(wine) == []
    assert existing(wine, SAVER) is None
    assert xwine.wait_until(lambda: not (wine.prefix / "drive_c" / "Apps" / "Quillomir").exists(),
                            30, 0.5), "the folder is still there"


def test_another_saver_chosen_by_the_user_is_left_alone(wine_session, x64_installer, runline):
    _, wine = wine_session
    # Keeping the current choice at install time...
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", OTHER_SAVER)
    install(wine, x64_installer, "/KEEPSAVER")
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") == OTHER_SAVER

    # ...and at uninstall time, when the user picked another saver after installing.
    install(wine, x64_installer)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") != OTHER_SAVER
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", OTHER_SAVER)
    uninstall(wine, runline)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") == OTHER_SAVER
    assert existing(wine, SAVER) is None

    # The long form of Quillomir's own path is recognised as Quillomir too.
    install(wine, x64_installer)
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", SAVER.upper())
    uninstall(wine, runline)
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") is None


@pytest.fixture
def desktop_user(wine_session, tmp_path):
    """Puts a wtsapi32.dll in the prefix that names FAKE_DESKTOP_USER as the
    user at the desktop; returns the environment that names one."""
    _, wine = wine_session
    system32 = existing(wine, r"C:\windows\system32\wtsapi32.dll")
    system32.unlink()  # a hard link into the shared base prefix
    mingw(FAKE / "wtsapi32.c", system32, "-shared", "-Wl,--kill-at")

    def env(user: str) -> dict:
        return {**wine.env(), "FAKE_DESKTOP_USER": user,
                "WINEDLLOVERRIDES": wine.env()["WINEDLLOVERRIDES"] + ";wtsapi32=n"}
    return env


def test_the_desktop_users_choice_is_set_moved_and_cleared_in_their_hive(
        wine_session, x64_installer, desktop_user, runline):
    """Setup elevated by another account reaches the desktop user's own hive
    under HKEY_USERS: it points their choice of a replaced 32-bit copy at this
    one, its uninstaller clears it, and it sets it; the setup account's own
    choice is never touched."""
    _, wine = wine_session
    env = desktop_user(DESK_USER)
    wine.reg_set(DESK_DESKTOP, "ScreenSaveTimeOut", "600")
    wine.reg_set(DESKTOP, "SCRNSAVE.EXE", OTHER_SAVER)

    def setup(*args: str) -> None:
        r = subprocess.run([xwine.WINE, str(x64_installer), "/S", f"/LOG={LOG}", *args],
                           env=env, capture_output=True, timeout=180)
        assert r.returncode == 0

    assert wine.run("reg", "add", ENTRY, "/v", "DisplayName", "/d", "Quillomir (32-bit)", "/f",
                    "/reg:32").returncode == 0
    (wine.prefix / "drive_c" / "windows" / "syswow64" / "Quillomir.scr").write_bytes(
        (WIN64 / "Quillomir.scr").read_bytes())
    wine.reg_set(DESK_DESKTOP, "SCRNSAVE.EXE", SAVER32)
    setup("/KEEPSAVER")
    assert existing(wine, SAVER32) is None
    moved = wine.reg_query(DESK_DESKTOP, "SCRNSAVE.EXE")
    assert moved and moved.lower().startswith(r"c:\windows\system32\quil"), moved

    uninstall(wine, runline, env=env)
    assert wine.reg_query(DESK_DESKTOP, "SCRNSAVE.EXE") is None
    assert f"Screen saver of {DESK_USER} cleared" in setup_log(wine)

    setup()
    chosen = wine.reg_query(DESK_DESKTOP, "SCRNSAVE.EXE")
    assert chosen and chosen.lower().startswith(r"c:\windows\system32\quil"), chosen
    assert wine.reg_query(DESK_DESKTOP, "ScreenSaveTimeOut") == "600"
    assert wine.reg_query(DESKTOP, "SCRNSAVE.EXE") == OTHER_SAVER
    assert f"HKEY_USERS\\{DESK_SID}" in setup_log(wine)


def test_a_desktop_user_out_of_reach_and_a_second_setup(
        wine_session, x64_installer, desktop_user, version, runline):
    """Run as SYSTEM (no one at the desktop), or for a desktop user whose hive
    cannot be found, setup sets no one's choice and says how to pick it. While
    that interactive setup is open, a second one stops at once with 1618."""
    x, wine = wine_session
    env = desktop_user

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
        # A probe that meets the setup window half made can hang: it counts
        # as a miss, and the wait asks again.
        try:
            return wine.run(str(WIN64 / "quillomir_ui_probe.exe"), *args, timeout=30)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(args, 124, "", "")

    assert xwine.wait_until(lambda: probe("click", title, "&Install").returncode == 0, 60, 1), \
        "no components page with an Install button"
    texts = xwine.wait_until(
        lambda: [t for t in map(json.loads, probe("texts", title).stdout.splitlines())
                 if "not your screen saver yet" in t], 120, 1)
    assert texts, "the finish page does not say that the screen saver was left alone"
    assert "Settings > Personalization > Lock screen > Screen saver" in texts[0]
    # The finish page is open: this setup still runs.
    windows_path = "Z:" + str(x64_installer).replace("/", "\\")
    assert run_line(wine, runline, f'"{windows_path}" /S /LOG={LOG}', env("")) == 1618
    assert "Another Quillomir setup or uninstaller is running" in setup_log(wine)
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
