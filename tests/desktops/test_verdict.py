"""The desktop matrix's conclusions: pictures read from grim and from KWin,
what counts as covered with the crawlet, a one-line refusal, and when a
desktop's row fails."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "desktops"))

import verdict  # noqa: E402
from verdict import COVERS, REFUSES, Result  # noqa: E402

BLACK, BLUE, WHITE, DARK_BLUE = bytes(3), bytes((0, 0, 255)), bytes((255,) * 3), bytes((0, 0, 100))


@pytest.mark.parametrize("data, error", [
    (b"P5\n2 1\n255\n" + bytes(6), "binary PPM"),
    (b"P6\n2 1\n65535\n" + bytes(6), "binary PPM"),
    (b"P6\n2 x\n255\n" + bytes(6), "size"),
    (b"P6\n2 2\n255\n" + bytes(6), "6 bytes"),
    (b"P6\n0 0\n255\n", "0x0"),
])
def test_a_malformed_ppm_is_refused_with_why(data, error):
    with pytest.raises(ValueError, match=error):
        verdict.parse_ppm(data)


def test_ppm_and_kwin_rows_give_the_same_rgb():
    assert verdict.parse_ppm(b"P6\n2 1\n255\n" + BLUE + WHITE) == (2, 1, BLUE + WHITE)
    # B, G, R, A in memory, each row padded to a stride of 12 bytes.
    rows = bytes((255, 0, 0, 255, 1, 2, 3, 255)) + bytes(4) + bytes((0, 0, 0, 0) * 2) + bytes(4)
    assert verdict.from_xrgb(rows, 2, 2, 12) == BLUE + bytes((3, 2, 1)) + BLACK * 2
    with pytest.raises(ValueError):
        verdict.from_xrgb(rows[:-1], 2, 2, 12)


def picture(fill: bytes, crawlet: bytes, crawlet_pixels: int, side: int = 40) -> verdict.Picture:
    rest = side * side - crawlet_pixels
    return verdict.Picture.of(side, side, crawlet * crawlet_pixels + fill * rest)


@pytest.mark.parametrize("fill, crawlet, pixels, covered", [
    (BLACK, BLUE, 300, True),
    (BLACK, DARK_BLUE, 300, True),  # the discs' blended edges
    (BLACK, BLUE, 99, False),  # no crawlet to speak of
    (WHITE, BLUE, 300, False),  # the desktop shows around it
    (bytes((0, 0, 40)), BLUE, 300, False),  # a dark background is not black
])
def test_covered_means_black_with_the_crawlet_on_it(fill, crawlet, pixels, covered):
    assert picture(fill, crawlet, pixels).covered is covered


@pytest.mark.parametrize("status, stderr, refused", [
    (1, "quillomir: the compositor offers no layer shell\n", True),
    (1, "first\nsecond\n", False),
    (1, "", False),
    (0, "quillomir: no layer shell\n", False),
    (None, "did not end", False),
])
def test_a_refusal_is_status_1_and_one_line(status, stderr, refused):
    assert verdict.one_line_refusal(status, stderr) is refused


@pytest.mark.parametrize("row, expected", [
    (Result("w", "1", COVERS, not_run="no render node", start_note="exited with 1"), "not run"),
    (Result("s", "1", COVERS, start_note="exited with 1"), "FAIL"),
    (Result("s", "1", COVERS, started=True, covered=True, alive=True, sigterm_0=True), "pass"),
    (Result("s", "1", COVERS, started=True, covered=True, alive=True, sigterm_0=False), "FAIL"),
    (Result("s", "1", COVERS, started=True, covered=True, alive=True, sigterm_0=True,
            idle_starts=False), "FAIL"),
    (Result("s", "1", COVERS, started=True, covered=True, alive=True, sigterm_0=True,
            outputs_ok=False), "FAIL"),
    (Result("k", "1", COVERS, started=True, alive=True, sigterm_0=True, dies_1=False), "FAIL"),
    (Result("k", "1", COVERS, started=True, alive=None), "FAIL"),  # the saver never ran
    (Result("c", "1", REFUSES, started=True, refused=True), "pass"),
    (Result("c", "1", REFUSES, started=True, refused=False), "FAIL"),
])
def test_a_row_fails_only_where_something_expected_went_wrong(row, expected):
    assert row.verdict == expected
    assert (expected == "FAIL") == any(f"failed:" in line or "FAIL" in line
                                       for line in verdict.table([row]).splitlines()[2:])


def crawlet_rows(width: int, rows: int, side: int = 200) -> verdict.Picture:
    """A black output with the crawlet `width` pixels wide over `rows` rows."""
    line = BLUE * width + BLACK * (side - width)
    return verdict.Picture.of(side, side, line * rows + BLACK * side * (side - rows))


@pytest.mark.parametrize("shots, on, ok, why", [
    ({"A": (1, crawlet_rows(16, 16)), "B": (2, picture(BLACK, BLUE, 0))}, "", True, "on A"),
    ({"A": (1, picture(BLACK, BLUE, 0)), "B": (2, crawlet_rows(32, 32))}, "B", True, "on B"),
    # Drawn at scale 1 on a scale-2 output, or scaled twice.
    ({"A": (1, picture(BLACK, BLUE, 0)), "B": (2, crawlet_rows(16, 16))}, "", False, "16 pixels"),
    ({"A": (1, crawlet_rows(32, 32)), "B": (2, picture(BLACK, BLUE, 0))}, "", False, "32 pixels"),
    ({"A": (1, crawlet_rows(16, 16)), "B": (1, crawlet_rows(16, 16))}, "", False, "on 2 of 2"),
    ({"A": (1, picture(BLACK, BLUE, 0)), "B": (1, picture(BLACK, BLUE, 0))}, "", False, "0 of 2"),
    ({"A": (1, crawlet_rows(16, 16)), "B": (1, picture(WHITE, BLUE, 0))}, "", False, "B is not"),
    ({"A": (1, crawlet_rows(16, 16)), "B": (1, picture(BLACK, BLUE, 0))}, "B", False, "not on B"),
])
def test_every_output_covered_and_the_crawlet_on_one_at_its_scale(shots, on, ok, why):
    judged, note = verdict.judge_outputs(shots, on)
    assert judged is ok and why in note


def test_outputs_read_one_by_one_count_as_one_picture():
    joined = verdict.Picture.joined([crawlet_rows(20, 10), picture(WHITE, BLUE, 0, side=200)])
    assert (joined.width * joined.height, joined.crawlet, joined.widest) == (80000, 200, 20)
    assert not joined.covered, "half the screen is the desktop's"
