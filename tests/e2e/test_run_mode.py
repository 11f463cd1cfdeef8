"""Run mode (/S) and the switches that open nothing, observed from outside:
what is on the X screen, which X windows exist, the X pointer image, and the
Windows process's lifetime."""

import math
import time

import pytest

from harness import (APP_TITLE, BLACK, BLUE, CORNER, GREEN, LABEL, RADIUS_PX, SAVER_CAPTION,
                     SETTINGS_KEY, STEP_PX, WHITE, Context, bbox, case, check, scaled, wait_exit,
                     wait_until)

pytestmark = pytest.mark.run_mode


def _outside(region):
    x0, y0, w, h = region
    return lambda p: not (x0 <= p[0] < x0 + w and y0 <= p[1] < y0 + h)


def crawlet_points(img, rgb, region=None):
    """Pixels of the crawlet's colour, leaving out the top-left corner."""
    pts = img.points(lambda c: c == rgb, region)
    return [p for p in pts if _outside(CORNER)(p)]


def disc_count(box) -> int:
    """Discs in a straight diagonal chain from the side of its bounding box:
    one disc spans a diameter, each further one adds a step."""
    w = max(box[2], box[3])
    return round((w - 2 * RADIUS_PX) / STEP_PX) + 1


def straight_chain(ctx, rgb, label, region=None, tries=6):
    """Screenshot of a crawlet that runs straight along one diagonal (a square
    bounding box); retried a few times in case a shot lands mid-tick."""
    for i in range(tries):
        img = ctx.shot(f"{label}-{i}")
        pts = crawlet_points(img, rgb, region)
        box = bbox(pts)
        if box and abs(box[2] - box[3]) <= 1:
            return img, pts, box
        time.sleep(0.35)
    check(False, f"{label}: no straight crawlet of colour {rgb} (last bounding box {box})")


def check_near_centre_diagonals(pts, cx, cy, max_steps, what):
    """Every crawlet pixel lies within a disc's radius of one of the two diagonals
    through (cx, cy), and no farther from the centre than max_steps steps."""
    check(len(pts) >= 150, f"{what}: only {len(pts)} crawlet pixels (a disc has ~200)")
    slack = RADIUS_PX + 2
    reach = max_steps * STEP_PX * math.sqrt(2) + slack + 2
    off = [p for p in pts
           if min(abs((p[0] - cx) - (p[1] - cy)), abs((p[0] - cx) + (p[1] - cy))) / math.sqrt(2) > slack
           or math.hypot(p[0] - cx, p[1] - cy) > reach]
    check(not off, f"{what}: {len(off)} crawlet pixels off the diagonals through "
                   f"({cx}, {cy}) or too far away, e.g. {off[:3]}")


def expect_running(proc, what):
    check(proc.poll() is None, f"{what}: the saver exited (code {proc.returncode})")


def expect_exit(ctx, proc, timeout, what):
    rc = wait_exit(proc, timeout)
    check(rc is not None, f"{what}: the saver still runs {timeout} s later")
    check(ctx.x.wait_no_window(SAVER_CAPTION, 3), f"{what}: the saver window is still shown")
    ctx.log(f"{what}: exited with {rc}")
    return rc


def check_full_screen(ctx, wid):
    g = ctx.x.geometry(wid)
    want = {"x": 0, "y": 0, "width": ctx.x.width, "height": ctx.x.height}
    check(all(g.get(k) == v for k, v in want.items()),
          f"saver window geometry {g}, expected full screen {want}")


# --------------------------------------------------------------------------------------

@case(timeout=60)
def test_defaults(ctx: Context):
    """No stored settings: black full screen, blue crawlet leaving the centre
    diagonally, no label."""
    ctx.display(1024, 768)
    check(ctx.wine.reg_query(SETTINGS_KEY, "CrawletColor") is None,
          "the fresh prefix already holds a CrawletColor")
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()
    check_full_screen(ctx, wid)
    time.sleep(5.5)
    img, pts, box = straight_chain(ctx, BLUE, "defaults")
    elapsed = time.monotonic() - t_window
    check_near_centre_diagonals(pts, 512, 384, int(elapsed) + 2, "defaults")
    others = img.points(lambda c: c != BLUE)
    check(not others, f"{len(others)} pixels that are neither black nor the crawlet's blue, "
                      f"e.g. {others[:3]} (label hidden by default)")
    check(img.count_colour(WHITE, LABEL) == 0, "white pixels in the label's area")
    # It moves: a couple of ticks later the blue pixels are elsewhere.
    time.sleep(2.2)
    later = crawlet_points(ctx.shot("defaults-later"), BLUE)
    check(set(later) != set(pts), "the crawlet did not move in 2 s")
    expect_running(proc, "defaults")


@case(timeout=60)
def test_stored_colour_green(ctx: Context):
    ctx.settings(CrawletColor=65280)
    proc, wid = ctx.start_running_saver()
    time.sleep(5.5)
    img, pts, box = straight_chain(ctx, GREEN, "green")
    check_near_centre_diagonals(pts, 512, 384, 12, "green")
    blue = img.count_colour(BLUE)
    check(blue == 0, f"{blue} blue pixels although the stored colour is green")
    expect_running(proc, "green")


@case(timeout=60)
def test_label_shown(ctx: Context):
    """DisplayValue 1: white text in the label's rectangle at the top left."""
    ctx.settings(DisplayValue=1)
    proc, wid = ctx.start_running_saver()
    time.sleep(3)
    img = ctx.shot("label")
    inside = img.count_colour(WHITE, LABEL, tolerance=60)
    check(inside >= 40, f"only {inside} white pixels in the label's area {LABEL}")
    stray = [p for p in img.points(lambda c: c != BLUE) if _outside((12, 12, 233, 25))(p)]
    check(not stray, f"{len(stray)} non-crawlet pixels outside the label, e.g. {stray[:3]}")
    expect_running(proc, "label")


@case(timeout=150)
def test_method3_first_minute(ctx: Context):
    """No sampling: after the first minute the label shows the stored average and
    the crawlet is one disc longer.  The screen is tall enough that the crawlet
    runs straight for more than a minute."""
    ctx.display(1600, 1200)
    ctx.settings(DisplayValue=1, CrawletMethod=3)
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()
    time.sleep(7)
    before_img, _, before_box = straight_chain(ctx, BLUE, "m3-before")
    before_label = before_img.crop_bytes(LABEL)
    check(before_img.count_colour(WHITE, LABEL, tolerance=60) >= 40, "no label text at start")
    # A length of 5 leaves 6 discs on screen: each tick erases from entry 5 of
    # the table up, repaints entry 4, then shifts, so entries 0..5 stay drawn.
    n_before = disc_count(before_box)
    check(n_before == 6, f"crawlet of {n_before} discs at start (box {before_box}), "
                         f"expected 6 for length 5")

    def label_changed():
        if time.monotonic() - t_window < 50:
            return None
        return ctx.x.screenshot().crop_bytes(LABEL) != before_label

    # Watch the label from 50 s on: it must keep its first text until about
    # a minute and then change.
    time.sleep(max(0, 50 - (time.monotonic() - t_window)))
    changed = wait_until(label_changed, 30, 0.5)
    t_change = time.monotonic() - t_window
    check(changed, f"label text did not change within {t_change:.0f} s")
    ctx.log(f"label changed {t_change:.1f} s after the window appeared")
    check(t_change >= 55, f"label changed already after {t_change:.1f} s")
    time.sleep(1.5)  # the next movement tick draws the longer crawlet
    after_img, _, after_box = straight_chain(ctx, BLUE, "m3-after")
    check(after_img.count_colour(WHITE, LABEL, tolerance=60) >= 15,
          "label shows no white text after the first minute")
    check(after_img.crop_bytes(LABEL) != before_label, "label text is the same as at start")
    n_after = disc_count(after_box)
    check(n_after == n_before + 1,
          f"crawlet has {n_after} discs after the first minute (box {after_box}), "
          f"expected {n_before + 1}")
    expect_running(proc, "method 3")


@case(timeout=60)
def test_close_by_key(ctx: Context):
    ctx.display()
    proc, wid = ctx.start_running_saver()
    time.sleep(2.5)
    expect_running(proc, "before the key")
    ctx.x.key("space")
    expect_exit(ctx, proc, 5, "key press")


@case(timeout=80)
def test_close_by_click(ctx: Context):
    """Left button, then in a second run the right one, without moving."""
    ctx.display()
    for button in (1, 3):
        proc, wid = ctx.start_running_saver()
        time.sleep(2.5)
        expect_running(proc, f"before button {button}")
        ctx.x.click(button)
        expect_exit(ctx, proc, 5, f"button {button}")


def _moves(ctx, points, gap=0.4):
    for x, y in points:
        ctx.x.move(x, y)
        time.sleep(gap)


@case(timeout=60)
def test_sixth_move_closes(ctx: Context):
    ctx.display()
    proc, wid = ctx.start_running_saver()
    time.sleep(2.5)
    _moves(ctx, [(300 + 20 * i, 500 - 10 * i) for i in range(5)])
    time.sleep(1.5)
    expect_running(proc, "after 5 mouse moves")
    ctx.x.move(700, 200)
    expect_exit(ctx, proc, 5, "6th mouse move")


@case(timeout=70)
def test_moves_over_label_ignored(ctx: Context):
    """With the label shown, moves inside its rectangle do not count; 8 there and
    5 outside keep it open, and a 6th outside closes it."""
    ctx.settings(DisplayValue=1)
    proc, wid = ctx.start_running_saver()
    time.sleep(2.5)
    x0, y0, w, h = LABEL
    inside = [(x0 + 10 + 25 * i, y0 + 3 + (i % 3) * 4) for i in range(8)]
    check(all(x0 + 2 <= x < x0 + w - 2 and y0 + 2 <= y < y0 + h - 2 for x, y in inside),
          "test error: a point is not inside the label")
    _moves(ctx, inside)
    time.sleep(1)
    expect_running(proc, "after 8 moves over the label")
    _moves(ctx, [(400 + 15 * i, 500 + 12 * i) for i in range(5)])
    time.sleep(1.5)
    expect_running(proc, "after 8 moves over the label and 5 outside")
    ctx.x.move(800, 600)
    expect_exit(ctx, proc, 5, "6th move outside the label")


@case(timeout=60)
def test_pointer_hidden_then_shown(ctx: Context):
    """Seen two ways: the X pointer image (XFixes), which Wine empties over a
    window whose thread hides the cursor, and GetCursorInfo's CURSOR_SHOWING for
    the foreground thread.  Both must say visible before, hidden while the
    saver runs, and visible after it closed."""
    x = ctx.display()
    before = x.cursor_image()
    check(before.visible, f"X pointer not visible before the saver starts: {before}")
    check(ctx.cursor_showing(), "GetCursorInfo: pointer not showing before the saver starts")
    proc, wid = ctx.start_running_saver()
    time.sleep(2.5)
    during = x.cursor_image()
    ctx.log(f"cursor before {before}, during {during}")
    check(not during.visible, f"X pointer visible while the saver runs: {during}")
    check(not ctx.cursor_showing(), "GetCursorInfo: pointer showing while the saver runs")
    x.key("Escape")
    expect_exit(ctx, proc, 5, "key press")
    after = wait_until(lambda: x.cursor_image().visible and x.cursor_image(), 3)
    check(after, f"X pointer not visible after the saver closed: {x.cursor_image()}")
    check(ctx.cursor_showing(), "GetCursorInfo: pointer not showing after the saver closed")
    ctx.log(f"cursor after {after}")


@case(timeout=70)
def test_method7_message(ctx: Context):
    """An invalid method: after ~10 s a top-most message box, and the program
    ends when it is dismissed with Enter."""
    ctx.settings(CrawletMethod=7)
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()
    box = ctx.x.wait_window(APP_TITLE, 25)
    t_box = time.monotonic() - t_window
    check(box is not None, "no message box within 25 s")
    ctx.log(f"message box 0x{box:x} after {t_box:.1f} s")
    check(8 <= t_box <= 14, f"message box came {t_box:.1f} s after the saver window, expected ~10 s")
    expect_running(proc, "while the message is shown")
    time.sleep(0.7)
    img = ctx.shot("method7-message")
    g = ctx.x.geometry(box)
    region = (g["x"], g["y"], g["width"], g["height"])
    lit = g["width"] * g["height"] - img.count_colour(BLACK, region)
    check(lit > 0.5 * g["width"] * g["height"],
          f"the message box {g} is mostly black on screen: hidden behind the saver?")
    wins = [w for w in ctx.windows() if w.visible]
    ctx.log("z-order: " + "; ".join(f"{w.cls} '{w.title}' topmost={w.topmost}" for w in wins))
    msg = [i for i, w in enumerate(wins) if w.title == APP_TITLE]
    saver = [i for i, w in enumerate(wins) if w.title == SAVER_CAPTION]
    check(msg, "the message box is missing from Windows' window list")
    check(wins[msg[0]].topmost, "the message box is not top-most (no WS_EX_TOPMOST)")
    check(not saver or msg[0] < saver[0], "the message box is below the saver in the z-order")
    ctx.x.xdotool("windowfocus", "--sync", str(box))
    ctx.x.key("Return")
    expect_exit(ctx, proc, 5, "Enter on the message")
    check(ctx.x.wait_no_window(APP_TITLE, 3), "the message box is still shown")


@case(timeout=60)
def test_large_screen(ctx: Context):
    """3840 x 2160 pixels is 57600 x 32400 twips, beyond 16-bit coordinates for the
    whole width: the saver still runs and starts at the centre."""
    ctx.display(3840, 2160)
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()
    check_full_screen(ctx, wid)
    time.sleep(5.5)
    img, pts, box = straight_chain(ctx, BLUE, "large", region=(1700, 860, 440, 440))
    check_near_centre_diagonals(pts, 1920, 1080, int(time.monotonic() - t_window) + 2, "large")
    total = len(crawlet_points(img, BLUE))
    check(total == len(pts), f"{total - len(pts)} blue pixels away from the centre")
    expect_running(proc, "large screen")
    ctx.x.key("space")
    expect_exit(ctx, proc, 5, "key press")


@case(timeout=70)
def test_other_switches(ctx: Context):
    """/p with a handle, /a and /x end at once and show nothing; lower-case /s
    (run mode) is the control that shows the same watch does see a window."""
    x = ctx.display()
    for args in (["/p", "1234"], ["/a"], ["/x"]):
        t0 = time.monotonic()
        proc = ctx.start_saver(*args)
        seen = []
        while proc.poll() is None and time.monotonic() - t0 < scaled(8):
            seen += [w for w in x.visible_top_windows()]
            time.sleep(0.1)
        rc = wait_exit(proc, 0.1)
        took = time.monotonic() - t0
        ctx.log(f"{' '.join(args)}: exit {rc} after {took:.1f} s, windows {seen}")
        check(rc is not None, f"{' '.join(args)}: still running after {took:.0f} s")
        check(not seen, f"{' '.join(args)}: showed window(s) {seen[:2]}")
        check(x.screenshot().count_colour(BLACK) == x.width * x.height,
              f"{' '.join(args)}: the screen is not plain black")
    proc = ctx.start_saver("/s")
    check(wait_until(x.visible_top_windows, 20), "/s showed no window")
    x.key("space")
    expect_exit(ctx, proc, 5, "/s closed by key")


@case(timeout=60)
def test_two_monitors(ctx: Context):
    """Xvfb with two screens joined by Xinerama gives Wine two monitors,
    1024 x 768 (primary) and 800 x 600, both at the origin.  The saver fills the
    primary and puts a black window over the other."""
    x = ctx.display(screens=[(1024, 768), (800, 600)], xinerama=True)
    proc, wid = ctx.start_running_saver()
    check_full_screen(ctx, wid)

    def second():
        return [w for w in x.visible_top_windows()
                if w[0] != wid and w[2].get("width") == 800 and w[2].get("height") == 600
                and w[2].get("x") == 0 and w[2].get("y") == 0]

    found = wait_until(second, 10)
    ctx.shot("two-monitors")
    if not found:
        ctx.log("Windows' top-level windows: " + "; ".join(
            f"{w.cls} '{w.title}' visible={w.visible} {w.rect}" for w in ctx.windows()
            if "explorer" not in w.cls.lower()))
    check(found, f"no window covering the second monitor (800x600 at 0,0); "
                 f"X windows shown: {[(n, g['width'], g['height']) for _, n, g in x.visible_top_windows()]}")
    x.key("space")
    expect_exit(ctx, proc, 5, "key press")
    check(wait_until(lambda: not second(), 3), "the second monitor's window stays after exit")


@case(timeout=60)
def test_stays_on_top(ctx: Context):
    """The saver is top-most: a window opened after it, which Wine activates,
    stays below it in Windows' z-order.  (Wine without a window manager maps the
    later window on top on the X screen all the same, so the X side proves
    nothing here; the case records what X shows.)"""
    x = ctx.display()
    proc, wid = ctx.start_running_saver()
    time.sleep(1.5)
    other = ctx.wine.start("notepad.exe")
    ctx.procs.append(other)
    pad = x.wait_window("Notepad", 20, exact=False)
    check(pad is not None, "test error: Notepad did not open")
    time.sleep(1)
    wins = [w for w in ctx.windows() if w.visible]
    ctx.log("z-order: " + "; ".join(f"{w.cls} '{w.title}' topmost={w.topmost}" for w in wins))
    saver = [i for i, w in enumerate(wins) if w.title == SAVER_CAPTION]
    pads = [i for i, w in enumerate(wins) if "Notepad" in w.title]
    check(saver and pads, "test error: saver or Notepad missing from Windows' window list")
    check(wins[saver[0]].topmost, "the saver window is not top-most (no WS_EX_TOPMOST)")
    check(saver[0] < pads[0], "the saver is below the window opened after it in the z-order")
    order = x.stacking_order()
    ctx.log(f"on the X screen the saver is {'above' if order.index(wid) > order.index(pad) else 'below'} Notepad")
    expect_running(proc, "with another window opened")


def caption_box(img, region):
    """Bounding box (x, y, w, h) of the label's white text inside `region`."""
    pts = img.points(lambda c: min(c) >= 160, region)
    check(len(pts) >= 40, f"only {len(pts)} white pixels in {region}")
    return bbox(pts)


@case(timeout=120)
def test_label_font_follows_dpi(ctx: Context):
    """The label's font is the message font at the window's DPI: at 192 DPI the
    caption is about twice as tall as at 96 DPI and still fits in the label's
    rectangle (240, 240, 3372 x 252 twips: 32, 32, 450 x 34 pixels)."""
    ctx.settings(DisplayValue=1)
    proc, wid = ctx.start_running_saver()
    time.sleep(3)
    small = caption_box(ctx.shot("label-96"), (0, 0, 300, 60))
    ctx.x.key("space")
    expect_exit(ctx, proc, 10, "key at 96 DPI")

    # Windows applies a new DPI from the next logon. Wine 10 likewise keeps the
    # DPI its session started with, so the second saver gets a new session.
    ctx.wine.shutdown()
    ctx.wine.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "192", "REG_DWORD")
    proc, wid = ctx.start_running_saver()
    time.sleep(3)
    big = caption_box(ctx.shot("label-192"), (0, 0, 600, 120))
    ctx.log(f"caption at 96 DPI {small}, at 192 DPI {big}")
    ratio = big[3] / small[3]
    check(1.7 <= ratio <= 2.3, f"caption {small[3]} px tall at 96 DPI, {big[3]} px at 192")
    x, y, w, h = big
    check(x >= 32 and y >= 32 and x + w <= 32 + 450 and y + h <= 32 + 34,
          f"caption {big} outside the label's rectangle (32, 32, 450, 34)")
    expect_running(proc, "192 DPI")
    ctx.x.key("space")
    expect_exit(ctx, proc, 10, "key at 192 DPI")
