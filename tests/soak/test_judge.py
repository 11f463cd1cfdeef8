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
