"""The load sampler on a real system: a minute after the saver window appears,
the label shows the minute's average CPU utilization or memory use, and the
crawlet grows to that average plus five.  These read the operating system's
processor counters and memory status, which a 32-bit build gets through WOW64
with its own record sizes and limits, so they matter most on the shipped build."""

import re
import time

import pytest

from harness import BLUE, LABEL, SAVER_CAPTION, WHITE, Context, case, check, wait_until
from test_run_mode import disc_count, expect_running, straight_chain

pytestmark = pytest.mark.run_mode

AVERAGING = "Averaging data over 60 seconds..."
AVERAGE_TEXT = re.compile(r"^(-?\d+) %$")


def label_caption(ctx: Context) -> str | None:
    """The text of the saver's one label control, read through Win32."""
    wins = [w for w in ctx.top_windows(SAVER_CAPTION) if w["class"] != "#32770"]
    if len(wins) != 1:
        return None
    statics = [c for c in wins[0]["children"] if c["class"].lower() == "static"]
    check(len(statics) == 1, f"the saver window has {len(statics)} labels, expected 1")
    return statics[0]["caption"]


def first_average(ctx: Context, method: int, what: str) -> None:
    """Runs the saver with the label shown and the given method; checks the
    label's first caption, the average it shows after a minute, and the
    crawlet's length that follows from it."""
    # Tall enough that the crawlet runs straight for more than a minute.
    ctx.display(1600, 1200)
    ctx.settings(DisplayValue=1, CrawletMethod=method)
    proc, wid = ctx.start_running_saver()
    t_window = time.monotonic()
    first = wait_until(lambda: label_caption(ctx), 15, 0.5)
    check(first == AVERAGING, f"{what}: the label first reads {first!r}, expected {AVERAGING!r}")

    def averaged():
        caption = label_caption(ctx)
        return caption if caption not in (None, AVERAGING) else None

    # The first average comes 60 s after the window's load.
    time.sleep(max(0, 50 - (time.monotonic() - t_window)))
    caption = wait_until(averaged, 40, 0.5)
    t_change = time.monotonic() - t_window
    check(caption is not None, f"{what}: the label still reads {AVERAGING!r} "
                               f"{t_change:.0f} s after the window appeared")
    ctx.log(f"{what}: label {caption!r} {t_change:.1f} s after the window appeared")
    check(t_change >= 55, f"{what}: the average came already after {t_change:.1f} s")
    m = AVERAGE_TEXT.match(caption)
    check(m is not None, f"{what}: the label reads {caption!r}, expected '<average> %'")
    average = int(m.group(1))
    # -1 is what a minute of failed readings averages to: the meter or the
    # memory query did not work on this build.
    check(0 <= average <= 100, f"{what}: average {average} % is outside 0..100")

    # From the next movement tick on, the crawlet grows by one disc a tick
    # (the discs past the old length were erased long ago) until it has one
    # disc more than its new length, average + 5, as at the start (5, 6 discs).
    # Followed while the chain still runs straight from the centre: on this
    # screen the head reaches an edge about 84 ticks after the start.
    straight_for = 76
    want = average + 6
    counts = []
    follow_until = min(t_change + want - 6 + 4, straight_for)
    while True:
        img, _, box = straight_chain(ctx, BLUE, f"{what}-after-{len(counts)}")
        counts.append(disc_count(box))
        if counts[-1] >= want or time.monotonic() - t_window >= follow_until:
            break
        time.sleep(0.5)
    ctx.log(f"{what}: disc counts after the average: {counts}")
    check(img.count_colour(WHITE, LABEL, tolerance=60) >= 10, f"{what}: no label text")
    check(max(counts) <= want, f"{what}: crawlet of {max(counts)} discs after an average "
                               f"of {average} %, at most {want} expected")
    if average > 0:
        check(max(counts) > 6, f"{what}: the crawlet did not grow after an average of "
                               f"{average} %: {counts} discs")
    if t_change + want - 6 + 2 < straight_for:
        check(counts[-1] == want, f"{what}: crawlet of {counts[-1]} discs after an average "
                                  f"of {average} %, expected {want}")
    else:
        ctx.log(f"{what}: average {average} % grows past the straight path; final length "
                "not checked")
    expect_running(proc, what)


@case(timeout=150)
def test_cpu_average_after_a_minute(ctx: Context):
    """Method 1: the processor counters give a utilization in 0..100."""
    first_average(ctx, 1, "cpu")


@case(timeout=150)
def test_memory_average_after_a_minute(ctx: Context):
    """Method 2: the memory status gives a share of the commit limit in 0..100."""
    first_average(ctx, 2, "memory")
