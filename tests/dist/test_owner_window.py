"""The display settings' "/c:HWND": the settings dialog belongs to the window
whose handle follows "/c:" (it stays above it and opens centred on it) when
that handle is a live window; with a bare /C, or a handle that names no
window, it is on its own and centred on the screen. A stand-in for the
display settings' window is made by the test probe."""

from __future__ import annotations

import json
import subprocess
import time

import pytest

import harness
import xwine
from conftest import WIN64

DIALOG = "Quillomir"
PARENT = "Stand-in Display Settings"
PROBE = WIN64 / "quillomir_ui_probe.exe"
SCR = WIN64 / "Quillomir.scr"
SCREEN = (1024, 768)
# A placement away from the screen's centre, so that "centred on the owner"
# and "centred on the screen" cannot be mistaken for one another.
PARENT_RECT = (40, 60, 560, 420)


def probe(wine: xwine.Wine, *args: str) -> list[dict]:
    for _ in range(3):
        try:
            r = wine.run(str(PROBE), *args, timeout=20)
            return [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]
        except subprocess.TimeoutExpired:
            continue
    pytest.fail(f"the probe ({' '.join(args)}) hung three times")


def wait_window(wine: xwine.Wine, title: str, timeout: float = 40) -> dict:
    found = xwine.wait_until(
        lambda: [w for w in probe(wine, "list", title) if w["class"] != "#32770"], timeout, 0.5)
    assert found, f"no window '{title}' within {timeout} s"
    return found[0]


def start_parent(wine: xwine.Wine) -> tuple[subprocess.Popen, int]:
    x, y, w, h = PARENT_RECT
    proc = subprocess.Popen([xwine.WINE, str(PROBE), "parent", PARENT, str(x), str(y), str(w),
                             str(h)], env=wine.env(), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline().strip()
    assert line.isdigit(), f"the probe printed no parent handle ({line!r})"
    return proc, int(line)


def centre(rect: list[int]) -> tuple[float, float]:
    x, y, w, h = rect
    return (x + w / 2, y + h / 2)


def assert_centred(rect: list[int], on: tuple[float, float], what: str) -> None:
    cx, cy = centre(rect)
    # Integer halves of the two sizes: at most a pixel off each way.
    assert abs(cx - on[0]) <= 1 and abs(cy - on[1]) <= 1, \
        f"dialog centre ({cx}, {cy}) is not the {what}'s centre {on}"


def test_dialog_belongs_to_the_live_window_after_slash_c(wine_session):
    x, wine = wine_session
    parent, handle = start_parent(wine)
    try:
        parent_window = wait_window(wine, PARENT)
        assert parent_window["hwnd"] == handle
        saver = wine.start(SCR, f"/c:{handle}")
        dialog = wait_window(wine, DIALOG)
        assert dialog["owner"] == handle, "the dialog is not owned by the settings window"
        assert_centred(dialog["rect"], centre(parent_window["rect"]), "owner")
        # Still not modal: the owner takes input while the dialog is open.
        assert probe(wine, "list", PARENT)[0]["enabled"] == 1
        # An owned window stays above its owner when the owner is raised (an
        # unowned one goes below it: the test after this one).
        probe(wine, "raise", PARENT)
        time.sleep(1)
        order = [w["hwnd"] for w in probe(wine, "list")]
        assert order.index(dialog["hwnd"]) < order.index(handle), \
            "the dialog went below its owner"
        probe(wine, "close", DIALOG)
        assert harness.wait_exit(saver, 20) == 0
    finally:
        xwine.terminate(parent)


def test_unowned_dialog_goes_below_a_raised_window(wine_session):
    """The contrast to the owned case: without "/c:", the same raise puts the
    other window on top, so the check above can tell the two apart."""
    x, wine = wine_session
    parent, handle = start_parent(wine)
    try:
        wait_window(wine, PARENT)
        wine.start(SCR, "/c")
        dialog = wait_window(wine, DIALOG)
        assert dialog["owner"] == 0
        probe(wine, "raise", PARENT)
        time.sleep(1)
        order = [w["hwnd"] for w in probe(wine, "list")]
        assert order.index(dialog["hwnd"]) > order.index(handle)
    finally:
        xwine.terminate(parent)


@pytest.mark.parametrize("switch", ["/c", "/c:stale", "/c:0", "/c:18446744073709551615",
                                    "/c:12abc"])
def test_dialog_is_on_its_own_without_a_live_owner(wine_session, switch):
    x, wine = wine_session
    if switch == "/c:stale":
        # A handle that was a window a moment ago: the sharpest "not a window".
        parent, handle = start_parent(wine)
        wait_window(wine, PARENT)
        probe(wine, "close", PARENT)
        assert harness.wait_exit(parent, 20) is not None
        switch = f"/c:{handle}"
    wine.start(SCR, switch)
    dialog = wait_window(wine, DIALOG)
    assert dialog["owner"] == 0, f"{switch}: the dialog has an owner"
    assert_centred(dialog["rect"], (SCREEN[0] / 2, SCREEN[1] / 2), "screen")


def test_preview_with_a_handle_still_opens_nothing(wine_session):
    x, wine = wine_session
    parent, handle = start_parent(wine)
    try:
        wait_window(wine, PARENT)
        saver = wine.start(SCR, f"/p {handle}")
        assert harness.wait_exit(saver, 20) == 0
        assert probe(wine, "list", DIALOG) == []
    finally:
        xwine.terminate(parent)
