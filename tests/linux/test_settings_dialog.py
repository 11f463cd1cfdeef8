"""End to end: quillomir-settings on Xvfb, driven by the mouse and keyboard
(xdotool) and read back through the accessibility tree (AT-SPI) and the
settings file it writes.

Each test gets its own Xvfb display, D-Bus session (for AT-SPI) and
XDG_CONFIG_HOME. Screenshots go to build/linux-e2e/.

usage: python3 -m pytest tests/linux/test_settings_dialog.py
       QUILLOMIR_SETTINGS=path/to/quillomir-settings overrides the program.
"""

import configparser
import ctypes
import ctypes.util
import json
import os
import shutil
import signal
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "data"))

import xwine  # noqa: E402
from config_layout import read_layout  # noqa: E402
PROGRAM = Path(os.environ.get("QUILLOMIR_SETTINGS", ROOT / "build/native/quillomir-settings"))
SHOTS = ROOT / "build" / "linux-e2e"
# The interpreter that has the system's GObject bindings (python3-gi).
SYSTEM_PYTHON = "/usr/bin/python3"

TWIPS_PER_INCH = 1440

# The settings dialog's table from the layout file the Windows tests read:
# caption -> (left, top, width, height) in client twips, frame offsets added.
DIALOG_LAYOUT = read_layout()["Quillomir"]
CONFIG_CONTROLS = {c[2]: c[3] for c in DIALOG_LAYOUT["controls"]}

# Walks the accessibility tree of every application on the bus and prints it
# as JSON: one entry per accessible, with its top-level window's name.
TREE_SCRIPT = textwrap.dedent(
    """
    import json, sys, warnings
    warnings.simplefilter("ignore")
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    out = []
    def walk(acc, window):
        role = acc.get_role_name()
        name = acc.get_name() or ""
        if role == "frame":
            window = name
        box = None
        component = acc.get_component_iface()
        if component is not None:
            r = component.get_extents(Atspi.CoordType.WINDOW)
            box = [r.x, r.y, r.width, r.height]
        states = acc.get_state_set()
        out.append({"window": window, "role": role, "name": name, "box": box,
                    "checked": states.contains(Atspi.StateType.CHECKED),
                    "focused": states.contains(Atspi.StateType.FOCUSED)})
        for i in range(acc.get_child_count()):
            walk(acc.get_child_at_index(i), window)
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == sys.argv[1]:
            walk(app, "")
    print(json.dumps(out))
    """
)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


def send_wm_delete(display, window):
    """What a window manager's close button sends: WM_DELETE_WINDOW."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    assert connection, f"cannot open display {display}"
    event = _XEvent()
    event.client.type = 33  # ClientMessage
    event.client.window = int(window)
    event.client.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", False)
    event.client.format = 32
    event.client.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", False)
    event.client.data[1] = 0  # CurrentTime
    x11.XSendEvent(connection, int(window), False, 0, ctypes.byref(event))
    x11.XFlush(connection)
    x11.XCloseDisplay(connection)


def _needs(tool):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is not installed (tools/packages.txt)")


class Session:
    """One Xvfb display with a D-Bus session, a config folder, and the dialog."""

    def __init__(self, tmp: Path, name: str):
        self.tmp = tmp
        self.name = name
        self.config_home = tmp / "config"
        self.config_home.mkdir()
        self.conf = self.config_home / "quillomir" / "quillomir.conf"
        self.processes = []
        self.app = None
        self.env = None
        self.xvfb = None

    # --- services ---------------------------------------------------------------

    def start(self):
        self.xvfb = xwine.Xvfb(1024, 768, extra_args=("-ac",)).start()

        bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            start_new_session=True)
        self.processes.append(bus)
        address = bus.stdout.readline().strip()
        assert address, "dbus-daemon gave no address"

        home = self.tmp / "home"
        home.mkdir()
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": str(home),
            "DISPLAY": self.xvfb.display,
            "DBUS_SESSION_BUS_ADDRESS": address,
            "XDG_CONFIG_HOME": str(self.config_home),
            "XDG_DATA_HOME": str(self.tmp / "data"),
            "XDG_RUNTIME_DIR": str(self.tmp),
            "GDK_BACKEND": "x11",
            "GSETTINGS_BACKEND": "memory",
            "LANG": "C.UTF-8",
        }

    def stop(self):
        if self.app and self.app.poll() is None:
            self.app.kill()
            self.app.wait()
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        if self.xvfb:
            self.xvfb.stop()

    # --- the program ---------------------------------------------------------------

    def set_dpi(self, dpi):
        """Xft.dpi, as a desktop sets it; GTK takes its resolution from it."""
        subprocess.run(["xrdb", "-nocpp", "-merge"], input=f"Xft.dpi: {dpi}\n", env=self.env,
                       text=True, check=True, timeout=20)

    def write_settings(self, text):
        self.conf.parent.mkdir(parents=True, exist_ok=True)
        self.conf.write_text(text)

    def launch(self, command=None):
        self.log = open(self.tmp / "quillomir-settings.log", "w")
        self.app = subprocess.Popen(command or [str(PROGRAM)], env=self.env, stdout=self.log,
                                    stderr=subprocess.STDOUT)
        self.wait_for(lambda: self.window("Quillomir"), "the settings dialog")

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                                timeout=20)
        return result.stdout

    def window_id(self, title):
        ids = self.xdotool("search", "--name", f"^{title}$").split()
        assert len(ids) == 1, f"{len(ids)} X windows named {title!r}"
        return ids[0]

    def tree(self):
        result = subprocess.run([SYSTEM_PYTHON, "-c", TREE_SCRIPT, PROGRAM.name], env=self.env,
                                capture_output=True, text=True, timeout=30)
        assert result.returncode == 0, result.stderr
        return json.loads(result.stdout)

    def window(self, title):
        """The accessibles of the top-level window with that title."""
        return [a for a in self.tree() if a["window"] == title]

    def control(self, title, name, roles=("push button", "radio button", "check box", "label",
                                          "panel")):
        found = [a for a in self.window(title) if a["name"] == name and a["role"] in roles]
        assert found, f"no control {name!r} in {title!r}"
        return found[0]

    def click(self, title, name):
        x, y, width, height = self.control(title, name)["box"]
        self.xdotool("mousemove", "--window", self.window_id(title), str(x + width // 2),
                     str(y + height // 2), "click", "1")
        time.sleep(0.3)

    def key(self, *keys):
        self.xdotool("key", "--delay", "100", *keys)
        time.sleep(0.3)

    def screenshot(self, label):
        SHOTS.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", str(SHOTS / f"{self.name}-{label}.png")],
                       env=self.env, capture_output=True, timeout=30)

    def wait_for(self, condition, what, timeout=20.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.app is not None and self.app.poll() is not None and what != "exit":
                pytest.fail(f"quillomir-settings ended (code {self.app.returncode}) "
                            f"while waiting for {what}")
            value = condition()
            if value:
                return value
            time.sleep(0.2)
        pytest.fail(f"timed out waiting for {what}")

    def wait_exit(self, timeout=20.0):
        try:
            return self.app.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            pytest.fail("quillomir-settings did not end")

    def saved(self):
        parser = configparser.ConfigParser()
        parser.optionxform = str  # keys keep their case
        parser.read_string(self.conf.read_text())
        return dict(parser["Setup"])


@pytest.fixture
def dialog(tmp_path, request):
    for tool in ("Xvfb", "xdotool", "dbus-daemon", "import"):
        _needs(tool)
    if not PROGRAM.exists():
        pytest.fail(f"{PROGRAM} is not built")
    session = Session(tmp_path, request.node.name.replace("[", "-").replace("]", ""))
    session.start()
    yield session
    session.stop()


def checked(window, roles=("radio button", "check box")):
    return sorted(a["name"] for a in window if a["role"] in roles and a["checked"])


@pytest.mark.parametrize("dpi", [None, 144])
def test_the_dialog_renders_the_table_at_the_displays_dpi(dialog, dpi):
    if dpi:
        _needs("xrdb")
        dialog.set_dpi(dpi)
    dialog.launch()
    # Without Xft.dpi GTK assumes 96: 15 twips a pixel.
    scale = (dpi or 96) / TWIPS_PER_INCH
    window = dialog.window("Quillomir")
    frame = [a for a in window if a["role"] == "frame"][0]
    client_width, client_height = DIALOG_LAYOUT["client"]
    assert frame["box"][2:] == [round(client_width * scale), round(client_height * scale)]
    for caption, (left, top, width, height) in CONFIG_CONTROLS.items():
        box = dialog.control("Quillomir", caption)["box"]
        expected = [round(v * scale) for v in (left, top, width, height)]
        assert box[:3] == expected[:3], caption
        # GTK gives a button or an option its theme's minimum height when the
        # table's is smaller; it never shrinks one.
        assert box[3] >= expected[3], caption
    # A fresh user: CPU Utilization, Blue, and the box unchecked.
    assert checked(window) == ["Blue", "CPU Utilization"]
    dialog.screenshot("fresh")


def test_ok_saves_memory_use_green_and_the_box(dialog):
    dialog.launch()
    for control in ("Memory Use", "Green", "Display current value"):
        dialog.click("Quillomir", control)
    assert checked(dialog.window("Quillomir")) == ["Display current value", "Green", "Memory Use"]
    dialog.screenshot("chosen")
    dialog.click("Quillomir", "OK")
    # The dialog was the only window: the program ends.
    assert dialog.wait_exit() == 0
    assert dialog.saved() == {"CrawletMethod": "2", "CrawletColor": "65280", "DisplayValue": "1"}


@pytest.mark.parametrize(
    "stored, shown, saved",
    [
        # An offered colour is shown, with the group's other options cleared,
        # and OK keeps it.
        ("CrawletMethod=2\nCrawletColor=255\nDisplayValue=1\n",
         ["Display current value", "Memory Use", "Red"],
         {"CrawletMethod": "2", "CrawletColor": "255", "DisplayValue": "1"}),
        # A colour that no option offers shows Blue and is saved back unchanged;
        # method 3 shows CPU and OK saves 1; a DisplayValue of 5 shows the box
        # unchecked, and OK saves what the box shows.
        ("CrawletMethod=3\nCrawletColor=128\nDisplayValue=5\n",
         ["Blue", "CPU Utilization"],
         {"CrawletMethod": "1", "CrawletColor": "128", "DisplayValue": "0"}),
    ],
    ids=["offered", "unusual"],
)
def test_stored_choices_are_shown_and_ok_keeps_them(dialog, stored, shown, saved):
    dialog.write_settings("[Setup]\n" + stored)
    dialog.launch()
    assert checked(dialog.window("Quillomir")) == shown
    dialog.click("Quillomir", "OK")
    assert dialog.wait_exit() == 0
    assert dialog.saved() == saved


def test_a_refused_save_is_reported_and_the_dialog_stays(dialog):
    # A plain file where the settings folder belongs: no save can succeed
    # (permissions would not stop root, who may run the tests).
    blocker = dialog.config_home / "quillomir"
    blocker.write_text("not a folder\n")
    dialog.launch()
    dialog.click("Quillomir", "Green")
    dialog.click("Quillomir", "OK")
    alert = dialog.wait_for(
        lambda: [a for a in dialog.tree() if a["role"] == "alert"], "the message box")
    texts = " ".join(a["name"] for a in dialog.tree() if a["role"] == "label")
    assert "could not be saved" in texts, texts
    assert alert
    dialog.screenshot("refused")
    dialog.key("Return")  # the message box's OK
    dialog.wait_for(lambda: not [a for a in dialog.tree() if a["role"] == "alert"],
                    "the message box to close")
    # Nothing looks saved that was not: the dialog is still open, with the choice.
    assert checked(dialog.window("Quillomir")) == ["CPU Utilization", "Green"]
    assert blocker.read_text() == "not a folder\n"
    send_wm_delete(dialog.env["DISPLAY"], dialog.window_id("Quillomir"))
    assert dialog.wait_exit() == 0


def test_the_saver_opens_the_dialog_with_config(dialog):
    saver = PROGRAM.parent / "quillomir"
    if not saver.exists():
        pytest.skip(f"{saver} is not built")
    dialog.launch([str(saver), "--config"])
    dialog.click("Quillomir", "Purple")
    dialog.click("Quillomir", "OK")
    assert dialog.wait_exit() == 0
    assert dialog.saved()["CrawletColor"] == "16711935"


def test_closing_the_window_saves_nothing(dialog):
    dialog.write_settings("[Setup]\nCrawletColor=65280\n")
    before = dialog.conf.read_bytes()
    dialog.launch()
    dialog.click("Quillomir", "Red")
    dialog.click("Quillomir", "Memory Use")
    send_wm_delete(dialog.env["DISPLAY"], dialog.window_id("Quillomir"))
    assert dialog.wait_exit() == 0
    assert dialog.conf.read_bytes() == before


def test_tab_follows_the_table_and_visits_each_option_group_once(dialog):
    dialog.launch()
    dialog.click("Quillomir", "Green")
    focused = []
    for _ in range(6):
        now = [a["name"] for a in dialog.window("Quillomir") if a["focused"]]
        focused.append(now[0] if now else None)
        dialog.key("Tab")
    # The group is entered at its selected option (Green), as on Windows.
    assert focused == ["Green", "About", "OK", "CPU Utilization", "Display current value",
                       "Green"]
    # Enter on an option does nothing: no button is the default.
    dialog.key("Return")
    assert dialog.app.poll() is None
    assert not dialog.conf.exists()


def test_about_shows_the_version_once_and_outlives_the_dialog(dialog):
    dialog.launch()
    dialog.click("Quillomir", "About")
    about = dialog.wait_for(lambda: dialog.window("About Quillomir"), "the About box")
    names = [a["name"] for a in about if a["role"] == "label"]
    assert "Version 1.0" in names
    assert "Quillomir" in names
    # Without a window manager both windows open centred, the box over the
    # dialog's buttons: move it aside, as a user would.
    dialog.xdotool("windowmove", dialog.window_id("About Quillomir"), "0", "0")
    time.sleep(0.3)
    dialog.screenshot("about")
    # A second press shows the same box; no second one opens.
    dialog.click("Quillomir", "About")
    time.sleep(1.0)  # time for a second box to map, were one opened
    assert len([a for a in dialog.tree() if a["role"] == "frame"]) == 2
    dialog.window_id("About Quillomir")  # exactly one X window

    # OK in the dialog saves and closes it; the About box stays, and so does the program.
    dialog.click("Quillomir", "OK")
    dialog.wait_for(lambda: not dialog.window("Quillomir"), "the dialog to close")
    assert dialog.app.poll() is None
    assert dialog.window("About Quillomir")
    assert dialog.saved()["CrawletMethod"] == "1"

    dialog.click("About Quillomir", "OK")
    assert dialog.wait_exit() == 0


def test_the_link_opens_in_the_users_default_browser(dialog):
    # A "browser" that writes down the address it was given, made the
    # default handler for https the way a desktop does it.
    opened = dialog.tmp / "opened.txt"
    browser = dialog.tmp / "browser.sh"
    browser.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" > "{opened}"\n')
    browser.chmod(0o755)
    applications = dialog.tmp / "data" / "applications"
    applications.mkdir(parents=True)
    (applications / "test-browser.desktop").write_text(
        "[Desktop Entry]\nType=Application\nName=Test Browser\n"
        f"Exec={browser} %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
    (dialog.config_home / "mimeapps.list").write_text(
        "[Default Applications]\nx-scheme-handler/https=test-browser.desktop\n"
        "x-scheme-handler/http=test-browser.desktop\n")

    dialog.launch()
    dialog.click("Quillomir", "About")
    dialog.wait_for(lambda: dialog.window("About Quillomir"), "the About box")
    link = [a for a in dialog.window("About Quillomir") if a["name"].startswith("http")][0]
    dialog.click("About Quillomir", link["name"])
    dialog.wait_for(opened.exists, "the browser to be started")
    assert opened.read_text().strip() == link["name"]


def test_the_command_line_says_what_is_wrong(dialog):
    def run(*args, env=None):
        return subprocess.run([str(PROGRAM), *args], env=env or dialog.env, capture_output=True,
                              text=True, timeout=30)

    version = run("--version")
    assert version.returncode == 0 and version.stdout.startswith("quillomir-settings 1.0.")
    assert run("--help").returncode == 0
    bad = run("--bogus")
    assert bad.returncode == 2 and "unknown option '--bogus'" in bad.stderr
    no_display = run(env={k: v for k, v in dialog.env.items() if k != "DISPLAY"})
    assert no_display.returncode == 1 and "cannot open the display" in no_display.stderr
    assert not dialog.conf.exists()


def test_the_desktop_entry_opens_the_settings_through_the_saver():
    _needs("desktop-file-validate")
    entry = ROOT / "src/platform/gtk/quillomir-settings.desktop"
    result = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True, text=True)
    assert result.returncode == 0 and not result.stdout.strip(), result.stdout + result.stderr
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(entry)
    assert parser["Desktop Entry"]["Name"] == "Quillomir Settings"
    assert parser["Desktop Entry"]["Exec"] == "quillomir --config"


if __name__ == "__main__":
    sys.exit(pytest.main([__file__, "-v"]))
