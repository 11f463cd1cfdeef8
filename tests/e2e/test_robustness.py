"""Robustness from outside: stored settings the dialog never writes, odd command
lines, and a second saver started while one runs.

Each bad-settings row stores one bad value for each of the three keys at once;
their fallbacks show independently (the crawlet's colour, the label, and whether
the invalid-method message comes), so one /S run and one /C run check all three.
Every row is its own case, so pytest-xdist spreads them over its workers,
each with its own display, prefix clone and wineserver."""

from __future__ import annotations

import json
import math
import time
from dataclasses import dataclass

import pytest

from harness import (APP_TITLE, BLACK, BLUE_VALUE, COLOUR_OPTIONS, CORNER, CRASH_TITLE, DIALOG,
                     LABEL, RADIUS_PX, SAVER_CAPTION, SETTINGS_KEY, STEP_PX, WHITE, Context,
                     case, check, colorref_to_rgb, scaled, wait_exit, wait_until)

pytestmark = pytest.mark.robustness

# A small screen keeps the pure-Python picture scans cheap; the crawlet moves at
# most 15 steps of 7 px in a run, so it stays well inside 640 x 480.
WIDTH, HEIGHT = 640, 480
CENTRE = (WIDTH // 2, HEIGHT // 2)
LABEL_AREA = (12, 12, 233, 25)     # the label's rectangle with a margin for anti-aliased text

RUN_SECONDS = 15

COLOUR_CAPTIONS = ("Blue", "Red", "Green", "Purple", "White")
METHOD_CAPTIONS = ("CPU Utilization", "Memory Use")
BOX_CAPTION = "Display current value"
KEYS = ("DisplayValue", "CrawletMethod", "CrawletColor")
DEFAULTS = {"DisplayValue": 0, "CrawletMethod": 1, "CrawletColor": BLUE_VALUE}


# ---- stored values ---------------------------------------------------------------------

@dataclass(frozen=True)
class Raw:
    """A registry value of a type other than REG_SZ: the .reg file's type tag
    ("dword", "hex", "hex(2)", ...) and its data as written there."""
    tag: str
    data: str
    kind: str  # what `reg query` calls the type


def utf16_hex(tag: str, text: str, kind: str, multi: bool = False) -> Raw:
    """A text value stored as raw UTF-16 bytes under another type."""
    body = text.encode("utf-16-le") + b"\0\0" + (b"\0\0" if multi else b"")
    return Raw(tag, ",".join(f"{b:02x}" for b in body), kind)


def dword(value: int) -> Raw:
    return Raw("dword", f"{value:08x}", "REG_DWORD")


def qword(value: int) -> Raw:
    return Raw("hex(b)", ",".join(f"{b:02x}" for b in value.to_bytes(8, "little")), "REG_QWORD")


@dataclass(frozen=True)
class Row:
    """One stored value per key, each as (stored, what it reads as); None reads
    as missing, so the key's default applies."""
    name: str
    display: tuple
    method: tuple
    color: tuple

    def stored(self) -> dict:
        return {"DisplayValue": self.display[0], "CrawletMethod": self.method[0],
                "CrawletColor": self.color[0]}

    def read(self, key: str) -> int:
        value = {"DisplayValue": self.display, "CrawletMethod": self.method,
                 "CrawletColor": self.color}[key][1]
        return DEFAULTS[key] if value is None else value


Z = "0"
# Texts that are not a plain decimal integer fitting the key, values of other
# types, and texts too long for the store; a few rows hold valid values near a
# limit, so that a reader that rejects too much fails too.  Where a lax reader
# would get a visible result (label shown, the method message, another colour),
# the text is chosen to give it one.
ROWS = [
    Row("empty", ("", None), ("", None), ("", None)),
    Row("blanks", ("  ", None), ("  ", None), ("  ", None)),
    Row("padded", (" 1", None), ("7 ", None), ("\t255", None)),
    Row("hex", ("0x10", None), ("0x10", None), ("0xFF", None)),
    Row("exponent", ("1e3", None), ("7e0", None), ("255e0", None)),
    Row("fraction", ("2.5", None), ("7.0", None), ("255.0", None)),
    Row("plus_sign", ("+5", None), ("+7", None), ("+255", None)),
    Row("signs", ("-", None), ("--7", None), ("2-55", None)),
    # Valid grammar: -0 is 0, which hides the label, is an invalid method code,
    # and is black, a crawlet that cannot be seen on the black screen.
    Row("minus_zero", ("-0", 0), ("-0", 0), ("-0", 0)),
    Row("huge", ("99999999999", None), ("99999999999", None), ("99999999999", None)),
    Row("above_max", ("32768", None), ("32768", None), ("2147483648", None)),
    Row("below_min", ("-32769", None), ("-32769", None), ("-2147483649", None)),
    Row("arabic_indic_digits", ("\u0661", None), ("\u0667", None), ("\u0662\u0665\u0665", None)),
    Row("full_width_digits", ("\uff11", None), ("\uff17", None), ("\uff12\uff15\uff15", None)),
    # Longer than 255 characters reads as missing, however it would parse.
    Row("text_300", (Z * 299 + "1", None), (Z * 299 + "7", None), (Z * 295 + "65280", None)),
    Row("text_256", (Z * 255 + "1", None), (Z * 255 + "7", None), (Z * 251 + "65280", None)),
    Row("reg_dword", (dword(1), None), (dword(7), None), (dword(65280), None)),
    Row("reg_binary", (utf16_hex("hex", "1", "REG_BINARY"), None),
        (utf16_hex("hex", "7", "REG_BINARY"), None),
        (utf16_hex("hex", "255", "REG_BINARY"), None)),
    Row("other_types", (utf16_hex("hex(2)", "1", "REG_EXPAND_SZ"), None),
        (utf16_hex("hex(7)", "7", "REG_MULTI_SZ", multi=True), None), (qword(65280), None)),
    # Valid, at the edges: the width's minimum, leading zeros, and 255 characters.
    Row("valid_edges", ("-32768", -32768), ("00002", 2), ("0000065280", 65280)),
    Row("text_255", (Z * 254 + "1", 1), (Z * 254 + "7", 7), (Z * 250 + "65280", 65280)),
]


def reg_file_line(name: str, value) -> str:
    if isinstance(value, Raw):
        return f'"{name}"={value.tag}:{value.data}'
    escaped = value.replace("\\", "\\\\").replace('"', '\\"')
    return f'"{name}"="{escaped}"'


def store_values(ctx: Context, values: dict) -> None:
    """Writes the values through `reg import` of a UTF-16 .reg file, which carries
    any text and any value type unchanged."""
    hive, _, path = SETTINGS_KEY.partition("\\")
    assert hive == "HKCU"
    lines = ["Windows Registry Editor Version 5.00", "",
             f"[HKEY_CURRENT_USER\\{path}]"]
    lines += [reg_file_line(name, value) for name, value in values.items()]
    reg = ctx.dir / "settings.reg"
    reg.write_bytes(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))
    r = ctx.wine.run("reg", "import", "Z:" + str(reg).replace("/", "\\"))
    check(r.returncode == 0, f"test error: reg import failed: {r.stdout}{r.stderr}")
    # The setup itself must be what the row says, to the character and the type:
    # `reg export` writes UTF-16, where `reg query` would map text to a code page.
    exported = ctx.dir / "exported.reg"
    r = ctx.wine.run("reg", "export", SETTINGS_KEY, "Z:" + str(exported).replace("/", "\\"), "/y")
    check(r.returncode == 0, f"test error: reg export failed: {r.stdout}{r.stderr}")
    text = exported.read_bytes().decode("utf-16").replace("\\\r\n", "")
    lines = {line.replace(" ", "") if "=hex" in line else line for line in text.splitlines()}
    for name, value in values.items():
        want = reg_file_line(name, value)
        check(want in lines, f"test error: {name} was not stored as {want[:80]!r}")
    ctx.log("stored " + ", ".join(f"{n}={v!r}"[:80] for n, v in values.items()))


def reg_values(ctx: Context) -> dict[str, tuple[str, str]]:
    """The settings key's values as name -> (type, data), from `reg query`.

    Read after OK, when the key must hold values. Right after the dialog's
    process has ended, Wine's server can still be winding down and `reg` then
    reads nothing; that is retried, and a query that keeps failing is reported
    as such, not as settings that were never saved."""
    for _ in range(3):
        r = ctx.wine.run("reg", "query", SETTINGS_KEY)
        found = {}
        for line in r.stdout.splitlines():
            parts = line.strip("\r\n ").split("    ")
            parts = [p for p in parts if p != ""]
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                found[parts[0].strip()] = (parts[1].strip(), parts[2] if len(parts) > 2 else "")
        if r.returncode == 0 and found:
            return found
        ctx.log(f"reg query {SETTINGS_KEY}: exit {r.returncode}, {len(found)} values; "
                f"{r.stderr.strip()[:200]}")
        time.sleep(1)
    check(False, f"reg query {SETTINGS_KEY} read no values (exit {r.returncode}): the key is "
                 f"missing, or Wine did not answer")
    return {}


# ---- observing -------------------------------------------------------------------------

def no_crash_dialog(ctx: Context, what: str) -> None:
    check(not ctx.x.find_windows(CRASH_TITLE), f"{what}: Wine's crash dialog appeared")


def expect_exit(ctx: Context, proc, timeout: float, what: str) -> int:
    rc = wait_exit(proc, timeout)
    check(rc is not None, f"{what}: still running {timeout} s later")
    ctx.log(f"{what}: exited with {rc}")
    no_crash_dialog(ctx, what)
    check(rc == 0, f"{what}: exit code {rc} (0x{rc & 0xffffffff:x})")
    return rc


def _inside(region, p) -> bool:
    x0, y0, w, h = region
    return x0 <= p[0] < x0 + w and y0 <= p[1] < y0 + h


class Findings:
    """Checks that do not stop a row: each key's fallback is reported even when
    another key's is wrong."""

    def __init__(self):
        self.failed: list[str] = []

    def __call__(self, condition: bool, message: str) -> None:
        if not condition:
            self.failed.append(message)

    def verdict(self) -> None:
        check(not self.failed, "; ".join(self.failed))


def check_screen(ctx: Context, img, colour: int, label: bool, elapsed: float, what: str,
                 expect=check):
    """The crawlet in `colour` near the centre on a black screen, the label's
    area lit exactly when `label`; returns the crawlet's pixels."""
    rgb = colorref_to_rgb(colour)
    lit = img.non_black()
    in_label = [p for p in lit if _inside(LABEL_AREA, p)]
    white = img.count_colour(WHITE, LABEL, tolerance=60)
    if label:
        expect(white >= 40, f"{what}: label expected, but only {white} white pixels in {LABEL}")
    else:
        expect(not in_label, f"{what}: no label expected, but {len(in_label)} lit pixels in the "
                             f"label's area, e.g. {[img.pixel(*p) for p in in_label[:3]]}")
    rest = [p for p in lit if not _inside(LABEL_AREA, p) and not _inside(CORNER, p)]
    if colour == 0:
        expect(not rest, f"{what}: a black crawlet expected, but {len(rest)} lit pixels, "
                         f"e.g. {[(p, img.pixel(*p)) for p in rest[:3]]}")
        return []
    crawlet = [p for p in rest if img.pixel(*p) == rgb]
    wrong = [p for p in rest if img.pixel(*p) != rgb]
    expect(not wrong, f"{what}: crawlet colour {rgb} expected, but {len(wrong)} pixels of "
                      f"other colours, e.g. {[(p, img.pixel(*p)) for p in wrong[:3]]}")
    expect(len(crawlet) >= 150, f"{what}: only {len(crawlet)} pixels of the crawlet's "
                                f"colour {rgb} (a disc has ~200)")
    reach = (elapsed + 2) * STEP_PX * math.sqrt(2) + RADIUS_PX + 3
    far = [p for p in crawlet if math.hypot(p[0] - CENTRE[0], p[1] - CENTRE[1]) > reach]
    expect(not far, f"{what}: crawlet pixels too far from the centre, e.g. {far[:3]}")
    return crawlet


# ---- the probe -------------------------------------------------------------------------

def dialog_states(ctx: Context) -> dict[str, int]:
    r = ctx.probe("list", DIALOG)
    windows = [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]
    windows = [w for w in windows if w["class"] != "#32770"]
    check(len(windows) == 1, f"expected one dialog '{DIALOG}', found {len(windows)}")
    return {c["caption"]: c["checked"] for c in windows[0]["children"]}


# ---- bad stored settings ---------------------------------------------------------------

def run_saver_row(ctx: Context, row: Row, expect: Findings) -> None:
    colour = row.read("CrawletColor")
    label = row.read("DisplayValue") != 0
    method = row.read("CrawletMethod")
    message = method not in (1, 2, 3)
    what = f"/S {row.name}"
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()

    time.sleep(3.5)
    first = check_screen(ctx, ctx.shot("saver-1"), colour, label,
                         time.monotonic() - t_window, what, expect)
    time.sleep(2.0)
    second = check_screen(ctx, ctx.shot("saver-2"), colour, label,
                          time.monotonic() - t_window, what + " 2 s later", expect)
    if colour != 0 and first and second:
        expect(set(first) != set(second), f"{what}: the crawlet did not move in 2 s")

    def box():
        return ctx.x.find_windows(APP_TITLE) or proc.poll() is not None or None

    seen = wait_until(box, RUN_SECONDS - (time.monotonic() - t_window), 0.5)
    t_seen = time.monotonic() - t_window
    no_crash_dialog(ctx, what)
    check(proc.poll() is None, f"{what}: the saver ended by itself after {t_seen:.1f} s "
                               f"(code {proc.returncode})")
    if seen:
        ctx.log(f"{what}: message after {t_seen:.1f} s")
        ctx.shot("message")
        expect(message, f"{what}: the message '{APP_TITLE}' appeared after {t_seen:.1f} s, "
                        f"although the method reads as {method}")
        expect(t_seen >= 8, f"{what}: the message came already after {t_seen:.1f} s")
        ctx.x.xdotool("windowfocus", "--sync", str(seen[0]))
        ctx.x.key("Return")
        rc = wait_exit(proc, 5)
        check(rc is not None, f"{what}: the program still runs after the message was dismissed")
        ctx.log(f"{what}: ended with {rc} after the message")
        no_crash_dialog(ctx, what)
    else:
        expect(not message, f"{what}: method {method} is invalid, but no message "
                            f"'{APP_TITLE}' within {RUN_SECONDS} s")
        check(ctx.x.find_windows(SAVER_CAPTION) == [wid], f"{what}: the saver window is gone")
        ctx.x.key("space")
        expect_exit(ctx, proc, 5, f"{what}, key press")
    check(ctx.x.wait_no_window(SAVER_CAPTION, 3), f"{what}: the saver window is still shown")


def run_dialog_row(ctx: Context, row: Row, expect: Findings) -> None:
    display = row.read("DisplayValue")
    method = row.read("CrawletMethod")
    colour = row.read("CrawletColor")
    what = f"/C {row.name}"
    proc = ctx.start_saver("/C")
    check(ctx.x.wait_window(DIALOG, 25) is not None, f"{what}: no dialog '{DIALOG}'")
    states = dialog_states(ctx)
    want = {c: 0 for c in (*METHOD_CAPTIONS, *COLOUR_CAPTIONS, BOX_CAPTION)}
    want["Memory Use" if method == 2 else "CPU Utilization"] = 1
    want[COLOUR_OPTIONS.get(colour, "Blue")] = 1
    want[BOX_CAPTION] = int(display == 1)
    got = {c: states.get(c) for c in want}
    expect(got == want, f"{what}: the dialog shows "
                        f"{ {c: v for c, v in got.items() if v != want[c]} }, expected "
                        f"{ {c: v for c, v in want.items() if got[c] != v} }")
    r = ctx.probe("click", DIALOG, "OK")
    check(r.returncode == 0, f"{what}: no OK button to click")
    expect_exit(ctx, proc, 10, f"{what}, OK")
    # OK writes what the dialog shows, except that a colour no option offers is
    # kept; a stored label choice other than 0 or 1 showed unchecked and saves 0.
    saved = reg_values(ctx)
    expected = {"CrawletMethod": ("REG_SZ", "2" if method == 2 else "1"),
                "CrawletColor": ("REG_SZ", str(colour)),
                "DisplayValue": ("REG_SZ", "1" if display == 1 else "0")}
    for key in KEYS:
        expect(saved.get(key) == expected[key],
               f"{what}: OK saved {key} as {saved.get(key)}, expected {expected[key]}")


@case(timeout=120)
@pytest.mark.parametrize("row", ROWS, ids=lambda row: row.name)
def test_bad_settings(ctx: Context, row: Row):
    """Stored values of one row: the saver and the dialog fall back.  Every row
    is its own case, so xdist spreads them over its workers."""
    ctx.display(WIDTH, HEIGHT)
    store_values(ctx, row.stored())
    expect = Findings()
    run_saver_row(ctx, row, expect)
    run_dialog_row(ctx, row, expect)
    expect.verdict()


# ---- command lines ---------------------------------------------------------------------

LONG = 30000


def _watch_windows(ctx: Context, proc, seconds: float) -> list:
    """X windows mapped while the process runs, for at most `seconds`."""
    seen = []
    t0 = time.monotonic()
    while proc.poll() is None and time.monotonic() - t0 < scaled(seconds):
        seen += ctx.x.visible_top_windows()
        time.sleep(0.1)
    return seen


def _show(args) -> str:
    text = " ".join(args)
    return repr(text if len(text) < 40 else f"{text[:12]}...({len(text)} characters)")


@case(timeout=120)
def test_command_lines_run_mode(ctx: Context):
    """Only the first two characters count: these all run the saver, which then
    closes on a key as usual."""
    x = ctx.display(WIDTH, HEIGHT)
    for args in (["/S"], ["/s:1"], ["/S", "extra"], ["/S" + "x" * (LONG - 2)]):
        what = _show(args)
        proc = ctx.start_saver(*args)
        check(x.wait_window(SAVER_CAPTION, 25) is not None,
              f"{what}: no saver window (process {proc.poll()})")
        time.sleep(1.5)
        check(proc.poll() is None, f"{what}: the saver exited (code {proc.returncode})")
        check(not x.find_windows(DIALOG), f"{what}: the settings dialog opened too")
        no_crash_dialog(ctx, what)
        x.key("space")
        expect_exit(ctx, proc, 5, f"{what}, key press")
        check(x.wait_no_window(SAVER_CAPTION, 3), f"{what}: the saver window stays")


@case(timeout=120)
def test_command_lines_config_mode(ctx: Context):
    """/c with a window handle, /C, no argument at all, and a long /c text open
    the settings dialog; its close control ends the program."""
    x = ctx.display(WIDTH, HEIGHT)
    for args in (["/c:1234"], ["/C"], [], ["/c" + "9" * (LONG - 2)]):
        what = _show(args) if args else "no argument"
        proc = ctx.start_saver(*args)
        check(x.wait_window(DIALOG, 25) is not None,
              f"{what}: no dialog '{DIALOG}' (process {proc.poll()})")
        check(not x.find_windows(SAVER_CAPTION), f"{what}: the saver window opened")
        states = dialog_states(ctx)
        check(all(c in states for c in ("OK", "About", BOX_CAPTION)),
              f"{what}: the dialog lacks its controls: {sorted(states)}")
        no_crash_dialog(ctx, what)
        r = ctx.probe("close", DIALOG)
        check(r.returncode == 0, f"{what}: no dialog to close")
        expect_exit(ctx, proc, 10, f"{what}, close control")


def _expect_nothing(ctx: Context, arg_lists) -> None:
    x = ctx.display(WIDTH, HEIGHT)
    for args in arg_lists:
        what = _show(args)
        t0 = time.monotonic()
        proc = ctx.start_saver(*args)
        seen = _watch_windows(ctx, proc, 10)
        took = time.monotonic() - t0
        ctx.log(f"{what}: {proc.poll()} after {took:.1f} s, windows {seen[:3]}")
        check(proc.poll() is not None, f"{what}: still running after {took:.0f} s")
        check(not seen, f"{what}: showed window(s) {[(n, g) for _, n, g in seen[:2]]}")
        expect_exit(ctx, proc, 1, what)
        img = x.screenshot()
        check(img.count_colour(BLACK) == x.width * x.height, f"{what}: the screen is not black")


@case(timeout=120)
def test_command_lines_preview_and_password(ctx: Context):
    """Preview and password switches, with and without an argument, open nothing."""
    _expect_nothing(ctx, (["/P", "1234"], ["/p"], ["/A", "12"], ["/a:5678"]))


@case(timeout=120)
def test_command_lines_unknown(ctx: Context):
    """Texts that do not begin with one of the four switches select nothing,
    including a switch letter without its slash and a long text."""
    _expect_nothing(ctx, (["/x"], ["-s"], ["S"], ["s/"], ["x" * LONG], ["-S" + "x" * (LONG - 2)]))


# ---- one saver at a time ---------------------------------------------------------------

@case(timeout=120)
def test_second_saver_leaves_the_first_alone(ctx: Context):
    x = ctx.display(WIDTH, HEIGHT)
    first, wid = ctx.start_running_saver()
    time.sleep(2)
    before = check_screen(ctx, ctx.shot("first"), BLUE_VALUE, False, 3, "first saver")

    t0 = time.monotonic()
    second = ctx.start_saver("/S")
    rc = wait_exit(second, 10)
    took = time.monotonic() - t0
    check(rc is not None, f"the second /S still runs {took:.0f} s after it started")
    ctx.log(f"second /S exited with {rc} after {took:.1f} s")
    check(rc == 0, f"the second /S exit code {rc}")
    check(x.find_windows(SAVER_CAPTION) == [wid],
          f"saver windows after the second /S: {x.find_windows(SAVER_CAPTION)}, expected [{wid}]")
    mains = [w for w in ctx.windows() if w.visible and w.title == SAVER_CAPTION]
    check(len(mains) == 1, f"Windows lists {len(mains)} saver windows")
    no_crash_dialog(ctx, "second /S")

    check(first.poll() is None, f"the first saver ended (code {first.returncode})")
    time.sleep(1.5)
    after = check_screen(ctx, ctx.shot("first-after"), BLUE_VALUE, False, 2.5 + took + 1.5,
                         "first saver after the second /S")
    check(set(after) != set(before), "the first saver's crawlet stopped moving")
    x.key("space")
    expect_exit(ctx, first, 5, "first saver, key press")
    check(x.wait_no_window(SAVER_CAPTION, 3), "the saver window stays after the key")

    # Closing the first released its claim: a new /S runs.
    third, _ = ctx.start_running_saver()
    time.sleep(1.5)
    x.key("space")
    expect_exit(ctx, third, 5, "/S after the first closed, key press")
