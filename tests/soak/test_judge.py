"""The soak's verdicts: what counts as a rise after the warm-up, and what a
start-and-stop run must leave as it found it."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "soak"))

import judge  # noqa: E402


def series(*samples, informative=()):
    s = judge.Series("x11", informative=set(informative))
    for t, figures in samples:
        s.add(t, figures)
    return s


@pytest.mark.parametrize("values, rise", [
    ([5, 5, 5], 0), ([9, 3, 4], 1), ([3, 9, 1, 6], 6), ([10, 8, 6], 0), ([], 0)])
def test_largest_rise_is_the_biggest_climb_from_an_earlier_low(values, rise):
    assert judge.largest_rise(values) == rise


@pytest.mark.parametrize("after_warm_up, passed", [
    # fds must not rise at all; rss (KiB) by at most 64 KiB from the first
    # sample after the warm-up, whatever happened during it.
    ([{"fds": 6, "rss": 4000}, {"fds": 6, "rss": 4064}], True),
    ([{"fds": 6, "rss": 4000}, {"fds": 7, "rss": 4000}, {"fds": 6, "rss": 4000}], False),
    ([{"fds": 6, "rss": 4000}, {"fds": 6, "rss": 4065}], False),
    ([{"fds": 6, "rss": 4000}, {"fds": 5, "rss": 3000}], True),
])
def test_after_the_warm_up_counts_may_not_rise_and_rss_by_64_kib(after_warm_up, passed):
    warm = [(0, {"fds": 3, "rss": 1000}), (30, {"fds": 9, "rss": 9000})]
    s = series(*warm, *[(60 + 30 * i, f) for i, f in enumerate(after_warm_up)])
    verdict = judge.judge_series(s, warm_up=60)
    assert verdict.passed is passed, verdict.problems


def test_informative_figures_are_shown_but_not_judged_and_too_few_samples_fail():
    s = series((0, {"wineserver_rss": 10}), (60, {"wineserver_rss": 10}),
               (90, {"wineserver_rss": 900}), informative={"wineserver_rss"})
    figure = judge.judge_series(s, warm_up=60).figures[0]
    assert (figure.allowed, figure.rise_after_warm, figure.passed) == (None, 890, True)
    short = judge.judge_series(series((0, {"fds": 1}), (60, {"fds": 1})), warm_up=60)
    assert not short.passed and "only 1 samples" in short.problems[0]


@pytest.mark.parametrize("change, problem", [
    ({}, None),
    ({"statuses": [0, 0, -15]}, "did not end with status 0"),
    ({"after": {"clients": 3, "gcs": 1}}, "clients went from 2 to 3"),
    ({"after": {"clients": 2}}, "gcs went from 1 to 0"),
    ({"leftovers": ["quillomir (77)"]}, "left behind: quillomir (77)"),
    ({"statuses": [0, 0]}, "only 2 of 3 starts ran"),
    # A compositor's RSS is shown beside its counts but not held to its first value.
    ({"after": {"clients": 2, "gcs": 1, "sway_rss": 9000}}, None),
])
def test_a_start_run_must_end_cleanly_and_leave_the_server_as_it_was(change, problem):
    run = judge.Starts("x11", 3, statuses=[0, 0, 0], before={"clients": 2, "gcs": 1,
                       "sway_rss": 8000}, after={"clients": 2, "gcs": 1, "sway_rss": 8000},
                       informative={"sway_rss"})
    for name, value in change.items():
        setattr(run, name, value)
    problems = run.problems()
    assert (problem is None and problems == []) or any(problem in p for p in problems), problems


WARM = [(0, {"fds": 3, "rss": 1000, "x_gcs": 1}), (30, {"fds": 9, "rss": 9000, "x_gcs": 1})]


def verdict_after_warm_up(*after, warm=WARM):
    samples = [(60 + 30 * i, {"cpu_ns": 10 + i, **f}) for i, f in enumerate(after)]
    return judge.judge_series(series(*warm, *samples), warm_up=60)


@pytest.mark.parametrize("after_warm_up, problem", [
    # A high first reading does not hide a later climb of the same size.
    ([{"fds": 8, "rss": 1}, {"fds": 6, "rss": 1}, {"fds": 8, "rss": 1}],
     "fds rose by 2 after the warm-up (from 6;"),
    ([{"fds": 6, "rss": 5000}, {"fds": 6, "rss": 4000}, {"fds": 6, "rss": 4100}],
     "rss rose by 100 KiB after the warm-up (from 4000;"),
    ([{"fds": 8, "rss": 1}, {"fds": 6, "rss": 1}, {"fds": 6, "rss": 1}], None),
    # A judged figure that no sample after the warm-up gave fails; one that
    # some samples gave is judged on those.
    ([{"fds": 6}, {"fds": 6}], "rss is missing from every sample after the warm-up"),
    ([{"fds": 6, "rss": 1}, {"fds": 6}], None),
    # An X resource kind first listed after the warm-up rose from nothing.
    ([{"fds": 6, "rss": 1}, {"fds": 6, "rss": 1, "x_picture": 2}],
     "x_picture rose by 2 after the warm-up (from 0;"),
    ([{"fds": 6, "rss": 1, "x_picture": 2}, {"fds": 6, "rss": 1}], None),
])
def test_rises_are_judged_from_the_lowest_value_after_the_warm_up(after_warm_up, problem):
    verdict = verdict_after_warm_up(*after_warm_up)
    assert verdict.problems == ([] if problem is None else [verdict.problems[0]])
    assert problem is None or verdict.problems[0].startswith(problem), verdict.problems


def test_a_figure_a_probe_never_gave_is_missing():
    s = series((0, {"fds": 1}), (60, {"fds": 1}), (90, {"fds": 1}))
    s.required = {"gdi_objects"}
    assert judge.judge_series(s, warm_up=60).problems == [
        "gdi_objects is missing from every sample after the warm-up"]


@pytest.mark.parametrize("alive, frozen", [
    # Where pictures are taken the picture must move: a saver whose timers
    # stopped still spends CPU time repainting what is exposed.
    ([{"picture": 1, "cpu_ns": 5}, {"picture": 2, "cpu_ns": 5}, {"picture": 3, "cpu_ns": 5}],
     None),
    ([{"picture": 1, "cpu_ns": 5}, {"picture": 1, "cpu_ns": 9}, {"picture": 2, "cpu_ns": 9}],
     "frozen: its picture did not change between the samples at 60 and 90 s"),
    ([{"cpu_ns": 5}, {"cpu_ns": 6}, {"cpu_ns": 7}], None),
    ([{"cpu_ns": 5}, {"cpu_ns": 6}, {"cpu_ns": 6}],
     "frozen: its CPU time did not change between the samples at 90 and 120 s"),
])
def test_a_saver_that_shows_no_life_between_two_samples_is_frozen(alive, frozen):
    warm = [(0, {"fds": 6}), (30, {"fds": 6})]
    samples = [(60 + 30 * i, {"fds": 6, **f}) for i, f in enumerate(alive)]
    verdict = judge.judge_series(series(*warm, *samples), warm_up=60)
    # Neither the picture's digest nor the CPU time is judged as a count.
    assert [f.name for f in verdict.figures] == ["fds"]
    assert verdict.problems == ([] if frozen is None else [frozen])


@pytest.mark.parametrize("values, problem", [
    ([100, 900, 200], None),
    # Over the cap at any time, the warm-up too: a size, not a rise.
    ([1200, 300, 300], "rss_shmem reached 1200 KiB at 0 s, above its cap of 1000 KiB"),
])
def test_a_capped_figure_may_never_pass_its_cap(values, problem):
    s = series(*[(60 * i, {"rss_shmem": v, "cpu_ns": i}) for i, v in enumerate(values)],
               informative={"rss_shmem"})
    s.caps = {"rss_shmem": 1000}
    assert judge.judge_series(s, warm_up=60).problems == ([] if problem is None else [problem])
