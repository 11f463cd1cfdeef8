"""Configuration mode (/C): the settings dialog and the About box, read and
driven through Win32 calls by quillomir_ui_probe.exe (built beside the saver),
with the settings checked in the registry and the link checked at the browser."""

import json
import stat
import time

import pytest

from config_layout import read_layout
from harness import (ABOUT, DIALOG, GREEN, LABEL, ROOT, SETTINGS_KEY, WHITE, Context, case, check,
                     wait_exit, wait_until)

pytestmark = pytest.mark.config_mode

WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_THICKFRAME = 0x00040000
WS_MAXIMIZEBOX = 0x00010000
WS_MINIMIZEBOX = 0x00020000
BS_TYPEMASK = 0x0F
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX, BS_AUTORADIOBUTTON = 0, 1, 3, 7, 9
SS_NOTIFY = 0x0100
SS_TYPEMASK = 0x1F
SS_LEFT, SS_CENTER = 0, 1


LAYOUT = read_layout()
KINDS = {"Button": "button", "Frame": "frame", "Label": "label", "OptionButton": "option",
         "CheckBox": "check"}
# Captions the program sets when the window opens; "*" (not in the file): the name.
SHOWN = {"Version x.x": "Version 1.0"}


def _shown(name: str, caption: str) -> str:
    return name if caption == "*" else SHOWN.get(caption, caption)


CONFIG_CLIENT = LAYOUT[DIALOG]["client"]
ABOUT_CLIENT = LAYOUT[ABOUT]["client"]
# caption -> (kind, rectangle in twips in the client area)
CONFIG_CONTROLS = {c[2]: (KINDS[c[1]], c[3]) for c in LAYOUT[DIALOG]["controls"]}
CONFIG_TAB_ORDER = [c[2] for c in sorted(LAYOUT[DIALOG]["controls"], key=lambda c: c[4])]
ABOUT_RECTS = {_shown(c[0], c[2]): c[3] for c in LAYOUT[ABOUT]["controls"]}
HOMEPAGE = next(c[2] for c in LAYOUT[ABOUT]["controls"] if c[0] == "Label3")


def px(twips: int, dpi: int) -> int:
    """Twips to pixels, rounded half away from zero as the host does."""
    return int(twips * dpi / 1440 + 0.5)


# ---- the probe ------------------------------------------------------------------------

def top_windows(ctx: Context, title: str | None = None, measure: bool = False) -> list[dict]:
    return ctx.top_windows(title, measure)


def the_window(ctx: Context, title: str, measure: bool = False) -> dict:
    """The one visible window of that title that is not a message box."""
    found = [w for w in top_windows(ctx, title, measure) if w["class"] != "#32770"]
    check(len(found) == 1, f"expected one window '{title}', found {len(found)}")
    return found[0]


def wait_window(ctx: Context, title: str, timeout: float = 30) -> dict:
    found = wait_until(lambda: [w for w in top_windows(ctx, title) if w["class"] != "#32770"],
                       timeout, 0.5)
    check(bool(found), f"no window '{title}' within {timeout} s")
    return found[0]


def wait_gone(ctx: Context, title: str, timeout: float = 10) -> bool:
    return bool(wait_until(lambda: not [w for w in top_windows(ctx, title)
                                        if w["class"] != "#32770"], timeout, 0.5))


def controls(window: dict) -> dict[str, dict]:
    return {c["caption"]: c for c in window["children"]}


def click(ctx: Context, title: str, caption: str) -> None:
    r = ctx.probe("click", title, caption)
    check(r.returncode == 0, f"no control '{caption}' in '{title}' to click")
    ctx.log(f"clicked {caption} in {title}")
    time.sleep(0.3)


def close_by_close_control(ctx: Context, title: str) -> None:
    r = ctx.probe("close", title)
    check(r.returncode == 0, f"no window '{title}' to close")
    ctx.log(f"closed {title} by its close control")


def checked(ctx: Context) -> dict[str, int]:
    return {caption: c["checked"] for caption, c in controls(the_window(ctx, DIALOG)).items()
            if c["checked"] >= 0 and c["style"] & BS_TYPEMASK != BS_GROUPBOX
            and c["style"] & BS_TYPEMASK != BS_PUSHBUTTON}


def stored(ctx: Context) -> tuple:
    return tuple(ctx.wine.reg_query(SETTINGS_KEY, k)
                 for k in ("CrawletMethod", "CrawletColor", "DisplayValue"))


def open_dialog(ctx: Context, *args: str):
    ctx.display()
    proc = ctx.start_saver(*(args or ("/C",)))
    # Seen on the X side first: the probe then does not start while the saver does.
    check(ctx.x.wait_window(DIALOG, 30) is not None, "no dialog window on the X display")
    window = wait_window(ctx, DIALOG)
    return proc, window


def expect_selection(ctx, method: str, color: str, box: bool, what: str) -> None:
    states = checked(ctx)
    want = {c: 0 for c in states}
    want[method] = want[color] = 1
    want["Display current value"] = int(box)
    check(states == want, f"{what}: states {states}, expected {want}")


def expect_ends(ctx, proc, what: str, timeout: float = 15) -> None:
    rc = wait_exit(proc, timeout)
    check(rc is not None, f"{what}: the program still runs {timeout} s later")
    ctx.log(f"{what}: program ended with {rc}")


# ---- cases ----------------------------------------------------------------------------

@case(timeout=120)
def test_fresh_user_sees_defaults_and_ok_saves_them(ctx: Context):
    proc, _ = open_dialog(ctx)
    expect_selection(ctx, "CPU Utilization", "Blue", False, "fresh user")
    check(stored(ctx) == (None, None, None), f"settings exist before OK: {stored(ctx)}")
    click(ctx, DIALOG, "OK")
    expect_ends(ctx, proc, "OK with no About box open")
    check(stored(ctx) == ("1", "16711680", "0"), f"OK saved {stored(ctx)}")


@case(timeout=150)
def test_chosen_settings_are_saved_and_drive_the_saver(ctx: Context):
    proc, _ = open_dialog(ctx)
    for caption in ("Memory Use", "Green", "Display current value"):
        click(ctx, DIALOG, caption)
    expect_selection(ctx, "Memory Use", "Green", True, "after the clicks")
    check(stored(ctx) == (None, None, None), f"saved before OK: {stored(ctx)}")
    click(ctx, DIALOG, "OK")
    expect_ends(ctx, proc, "OK")
    check(stored(ctx) == ("2", "65280", "1"), f"OK saved {stored(ctx)}")

    saver, _ = ctx.start_running_saver()
    img = wait_until(lambda: (lambda i: i if i.count_colour(GREEN) > 150 else None)(
        ctx.shot("saver")), 15, 1.0)
    check(img is not None, "the next /S run draws no green crawlet")
    label = img.count_colour(WHITE, LABEL)
    check(label > 20, f"the next /S run shows no label ({label} white pixels where it goes)")
    ctx.x.key("space")
    check(wait_exit(saver, 15) is not None, "the saver did not end on a key press")


@case(timeout=120)
def test_odd_stored_values_show_defaults_and_colour_is_kept(ctx: Context):
    ctx.settings(CrawletColor=128, CrawletMethod=3, DisplayValue=5)
    proc, _ = open_dialog(ctx)
    expect_selection(ctx, "CPU Utilization", "Blue", False, "stored 3, 128, 5")
    click(ctx, DIALOG, "OK")
    expect_ends(ctx, proc, "OK")
    # The colour no option offers survives; the method becomes what the dialog shows,
    # and so does the label choice, since the box showed unchecked.
    check(stored(ctx) == ("1", "128", "0"), f"OK saved {stored(ctx)}")


@case(timeout=120)
def test_close_control_saves_nothing(ctx: Context):
    ctx.settings(CrawletMethod=2, CrawletColor=255, DisplayValue=1)
    proc, _ = open_dialog(ctx)
    expect_selection(ctx, "Memory Use", "Red", True, "stored 2, 255, 1")
    for caption in ("CPU Utilization", "White", "Display current value"):
        click(ctx, DIALOG, caption)
    expect_selection(ctx, "CPU Utilization", "White", False, "after the clicks")
    close_by_close_control(ctx, DIALOG)
    expect_ends(ctx, proc, "close control")
    check(stored(ctx) == ("2", "255", "1"), f"closing changed the settings to {stored(ctx)}")


@case(timeout=120)
def test_display_settings_switch_opens_a_free_standing_dialog(ctx: Context):
    # A "/c:" handle that names no window (65552 is none in a fresh session)
    # leaves the dialog on its own, and the dialog is never modal. With a live
    # window the dialog is owned by it: tests/dist/test_owner_window.py.
    proc, window = open_dialog(ctx, "/c:65552")
    check(window["owner"] == 0, f"the dialog has an owner ({window['owner']})")
    check(window["enabled"] == 1, "the dialog is disabled")
    click(ctx, DIALOG, "Purple")
    click(ctx, DIALOG, "OK")
    expect_ends(ctx, proc, "OK")
    check(stored(ctx) == ("1", "16711935", "0"), f"OK saved {stored(ctx)}")


def check_layout(ctx: Context, window: dict, dpi: int, client_twips, rects: dict, what: str):
    want_client = [px(client_twips[0], dpi), px(client_twips[1], dpi)]
    check(window["client"] == want_client,
          f"{what}: client area {window['client']}, expected {want_client} at {dpi} DPI")
    found = controls(window)
    for name, rect in rects.items():
        caption = name
        if name == "Label5":
            caption = next((c for c in found if "idle-time" in c), name)
        check(caption in found, f"{what}: no control '{caption}'")
        want = [px(v, dpi) for v in rect]
        check(found[caption]["rect"] == want,
              f"{what}: '{caption}' at {found[caption]['rect']}, expected {want}")


@case(timeout=120)
def test_dialog_layout_styles_and_tab_order(ctx: Context):
    proc, window = open_dialog(ctx)
    check(window["caption"] == DIALOG, f"caption {window['caption']!r}")
    style = window["style"]
    check(style & WS_CAPTION == WS_CAPTION and style & WS_SYSMENU,
          "the dialog has no title bar or no close control")
    check(not style & (WS_THICKFRAME | WS_MAXIMIZEBOX),
          f"the dialog can be resized (style 0x{style:08x})")
    check_layout(ctx, window, 96, CONFIG_CLIENT,
                 {k: v[1] for k, v in CONFIG_CONTROLS.items()}, "96 DPI")

    order = [c["caption"] for c in window["children"]]
    check(order == CONFIG_TAB_ORDER, f"z-order (tab order) {order}")
    kinds = {"button": BS_PUSHBUTTON, "frame": BS_GROUPBOX, "option": BS_AUTORADIOBUTTON,
             "check": BS_AUTOCHECKBOX}
    firsts = {"CPU Utilization", "Blue"}
    for c in window["children"]:
        kind = CONFIG_CONTROLS[c["caption"]][0]
        if kind == "label":
            check(c["class"] == "Static", f"'{c['caption']}' is a {c['class']}")
            continue
        check(c["class"] == "Button", f"'{c['caption']}' is a {c['class']}")
        check(c["style"] & BS_TYPEMASK == kinds[kind],
              f"'{c['caption']}' has button style {c['style'] & BS_TYPEMASK}")
        if kind == "option":
            group = bool(c["style"] & WS_GROUP)
            check(group == (c["caption"] in firsts),
                  f"'{c['caption']}': WS_GROUP is {'set' if group else 'clear'}")
        check(c["id"] not in (1, 2), f"'{c['caption']}' has the id of IDOK or IDCANCEL")

    tabs = [json.loads(line) for line in ctx.probe("tab", DIALOG).stdout.splitlines() if line]
    check(tabs == ["OK", "CPU Utilization", "Display current value", "Blue", "About"],
          f"Tab visits {tabs}")
    click(ctx, DIALOG, "Memory Use")
    click(ctx, DIALOG, "White")
    tabs = [json.loads(line) for line in ctx.probe("tab", DIALOG).stdout.splitlines() if line]
    check(tabs == ["OK", "Memory Use", "Display current value", "White", "About"],
          f"after selecting Memory Use and White, Tab visits {tabs}")
    close_by_close_control(ctx, DIALOG)
    expect_ends(ctx, proc, "close control")


@case(timeout=150)
def test_keyboard_moves_and_selects_without_default_buttons(ctx: Context):
    proc, window = open_dialog(ctx)
    # The pointer over the dialog gives it the X input focus on a bare X server.
    ox, oy = window["client_origin"]
    ctx.x.move(ox + 5, oy + 5)
    ctx.x.click()
    time.sleep(0.5)
    for key in ("Tab", "Down", "Tab", "space", "Tab", "Down", "Down"):
        ctx.x.key(key)
        time.sleep(0.3)
    time.sleep(0.5)
    expect_selection(ctx, "Memory Use", "Green", True, "Tab, arrows and Space")
    # Neither button is the default or the cancel button: Enter and Esc do nothing.
    for key in ("Return", "Escape"):
        ctx.x.key(key)
        time.sleep(0.8)
        check(proc.poll() is None, f"{key} ended the program")
    check(stored(ctx) == (None, None, None), f"the keys saved {stored(ctx)}")
    # Space on a focused button presses it.
    for key in ("Tab", "Tab"):  # from the colour group to About, then round to OK
        ctx.x.key(key)
        time.sleep(0.3)
    ctx.x.key("space")
    expect_ends(ctx, proc, "Space on OK")
    check(stored(ctx) == ("2", "65280", "1"), f"OK saved {stored(ctx)}")


@case(timeout=180)
def test_about_box_single_instance_and_lifetime(ctx: Context):
    proc, _ = open_dialog(ctx)
    click(ctx, DIALOG, "About")
    about = wait_window(ctx, ABOUT)
    found = controls(about)
    check("Version 1.0" in found, f"no 'Version 1.0' label: {list(found)}")
    check_layout(ctx, about, 96, ABOUT_CLIENT, ABOUT_RECTS, "About at 96 DPI")

    click(ctx, DIALOG, "About")
    time.sleep(1.0)
    boxes = [w for w in top_windows(ctx, ABOUT) if w["class"] != "#32770"]
    check(len(boxes) == 1, f"a second press of About left {len(boxes)} About boxes")
    check(boxes[0]["hwnd"] == about["hwnd"], "the second press opened a new box")

    click(ctx, DIALOG, "OK")
    check(wait_gone(ctx, DIALOG), "OK did not close the dialog")
    check(stored(ctx) == ("1", "16711680", "0"), f"OK saved {stored(ctx)}")
    time.sleep(1.5)
    check(proc.poll() is None, "the program ended while the About box was open")
    check(len([w for w in top_windows(ctx, ABOUT) if w["class"] != "#32770"]) == 1,
          "the About box went with the dialog")
    click(ctx, ABOUT, "OK")
    expect_ends(ctx, proc, "OK in the About box")


@case(timeout=150)
def test_about_labels_fonts_and_colours(ctx: Context):
    proc, _ = open_dialog(ctx)
    click(ctx, DIALOG, "About")
    wait_window(ctx, ABOUT)
    about = the_window(ctx, ABOUT, measure=True)
    check(about["caption"] == ABOUT, f"caption {about['caption']!r}")
    found = controls(about)
    fonts = {k: c["font"] for k, c in found.items()}
    check(all(fonts.values()), f"some control's font could not be read: {fonts}")
    title, credit, link = found["Quillomir"], found["by the Quillomir developers"], found[HOMEPAGE]
    # MS Sans Serif, or the nearest face where this system lacks it.
    ctx.log(f"About faces: { {k: (f['face'], f['actual_face']) for k, f in fonts.items()} }")
    for label, points in ((title, 13.8), (credit, 9.6), (link, 9.6)):
        want = -int(points * 96 / 72 + 0.5)
        check(label["font"]["height"] == want,
              f"'{label['caption']}': font height {label['font']['height']}, expected {want}")
        check(label["font"]["weight"] <= 400, f"'{label['caption']}' is bold")
        check(label["style"] & SS_TYPEMASK == SS_CENTER, f"'{label['caption']}' is not centred")
    check(link["font"]["underline"] == 1, "the address is not underlined")
    check(title["font"]["underline"] == 0 and credit["font"]["underline"] == 0,
          "a label other than the address is underlined")
    check(link["font"]["text_color"] == 0xFF0000,
          f"the address's text colour is 0x{link['font']['text_color']:06x}")
    check(link["style"] & SS_NOTIFY, "the address does not report clicks (no SS_NOTIFY)")
    ack = next(c for k, c in found.items() if "idle-time" in k)
    lines = ack["font"]["wrapped"][1] // ack["font"]["line_height"]
    check(lines == 2, f"the acknowledgement takes {lines} lines, not two")
    check(ack["font"]["wrapped"][1] <= ack["client"][1], "the acknowledgement is cut off")

    # Blue text really is drawn where the address is.
    img = ctx.shot("about")
    ox, oy = about["client_origin"]
    x, y, w, h = link["rect"]
    blue = img.count_colour((0, 0, 255), (ox + x, oy + y, w, h), tolerance=60)
    check(blue > 30, f"only {blue} blue pixels in the address")
    close_by_close_control(ctx, ABOUT)
    close_by_close_control(ctx, DIALOG)
    expect_ends(ctx, proc, "both closed")


def browser_script(ctx: Context):
    record = ctx.dir / "browser-args.txt"
    script = ctx.dir / "record-browser.sh"
    script.write_text(f'#!/bin/sh\nprintf "%s\\n" "$@" >> "{record}"\n')
    script.chmod(script.stat().st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    return script, record


@case(timeout=150)
def test_link_opens_the_address_in_the_browser(ctx: Context):
    ctx.display()
    script, record = browser_script(ctx)
    ctx.wine.reg_set(r"HKCU\Software\Wine\WineBrowser", "Browsers", str(script))
    proc, _ = open_dialog(ctx)
    click(ctx, DIALOG, "About")
    about = wait_window(ctx, ABOUT)
    link = controls(about)[HOMEPAGE]
    ox, oy = about["client_origin"]
    x, y, w, h = link["rect"]
    # The pointer turns into a hand over the address, and not beside it.
    ctx.x.move(ox + 4, oy + about["client"][1] - 4)
    time.sleep(0.6)
    plain = ctx.x.cursor_image()
    ctx.x.move(ox + x + w // 2, oy + y + h // 2)
    time.sleep(0.6)
    hand = ctx.x.cursor_image()
    ctx.log(f"pointer beside the link {plain}, over it {hand}")
    check((hand.width, hand.height, hand.opaque_pixels) != (plain.width, plain.height,
                                                           plain.opaque_pixels),
          "the pointer looks the same over the address as beside it")
    # A real click on the label, through X.
    ctx.x.click()
    got = wait_until(lambda: record.exists() and record.read_text().strip(), 20, 0.5)
    check(bool(got), "no browser was started within 20 s")
    check(HOMEPAGE in got.split(), f"the browser was given {got!r}")
    check(proc.poll() is None, "clicking the link ended the program")
    click(ctx, ABOUT, "OK")
    close_by_close_control(ctx, DIALOG)
    expect_ends(ctx, proc, "both closed")


def check_not_clipped(window: dict, dpi: int, what: str) -> None:
    scale = dpi / 96
    for c in window["children"]:
        f = c["font"]
        check(f is not None, f"{what}: the font of '{c['caption']}' could not be read")
        cw, ch = c["client"]
        kind = c["style"] & BS_TYPEMASK if c["class"] == "Button" else None
        if kind in (BS_AUTORADIOBUTTON, BS_AUTOCHECKBOX):
            room = cw - int(17 * scale)  # the glyph and the gap after it
        elif kind == BS_GROUPBOX:
            room = cw - int(16 * scale)
        elif kind is not None:
            room = cw - int(6 * scale)
        else:
            room = cw
        if c["class"] == "Static" and "idle-time" in c["caption"]:
            check(f["wrapped"][0] <= cw and f["wrapped"][1] <= ch,
                  f"{what}: '{c['caption'][:20]}...' needs {f['wrapped']} in {cw}x{ch}")
            continue
        check(f["extent"][0] <= room,
              f"{what}: '{c['caption']}' is {f['extent'][0]} px wide, room for {room}")
        if kind != BS_GROUPBOX:
            check(f["extent"][1] <= ch,
                  f"{what}: '{c['caption']}' is {f['extent'][1]} px high in {ch}")


@case(timeout=180)
def test_high_dpi_scales_everything_and_clips_nothing(ctx: Context):
    ctx.display()
    ctx.wine.reg_set(r"HKCU\Control Panel\Desktop", "LogPixels", "144", "REG_DWORD")
    proc, _ = open_dialog(ctx)
    dialog = the_window(ctx, DIALOG, measure=True)
    check(dialog["dpi"] == 144, f"the dialog runs at {dialog['dpi']} DPI")
    check_layout(ctx, dialog, 144, CONFIG_CLIENT,
                 {k: v[1] for k, v in CONFIG_CONTROLS.items()}, "dialog at 144 DPI")
    for c in dialog["children"]:
        twips = CONFIG_CONTROLS[c["caption"]][1]
        at96 = [px(v, 96) for v in twips]
        for got, small in zip(c["rect"], at96):
            check(abs(got - 1.5 * small) <= 1.5,
                  f"'{c['caption']}' at {c['rect']} is not 1.5 times {at96}")
    check_not_clipped(dialog, 144, "dialog at 144 DPI")

    click(ctx, DIALOG, "About")
    wait_window(ctx, ABOUT)
    about = the_window(ctx, ABOUT, measure=True)
    check_layout(ctx, about, 144, ABOUT_CLIENT, ABOUT_RECTS, "About at 144 DPI")
    title = controls(about)["Quillomir"]
    check(title["font"]["height"] == -28, f"the title's font is {title['font']['height']} high")
    check_not_clipped(about, 144, "About at 144 DPI")
    ctx.shot("high-dpi")
    click(ctx, ABOUT, "OK")
    close_by_close_control(ctx, DIALOG)
    expect_ends(ctx, proc, "both closed")
