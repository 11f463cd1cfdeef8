"""The rules a soak run is judged by: after the warm-up no count may rise at
all, and resident memory by at most RSS_SLACK_KIB; a start-and-stop run must
end every saver cleanly and leave the server as it found it."""

from __future__ import annotations

from dataclasses import dataclass, field

RSS_SLACK_KIB = 64
# Figures in KiB that may rise by RSS_SLACK_KIB; every other judged figure is a count.
MEMORY = {"rss", "rss_private"}


@dataclass
class Series:
    """One saver's samples: (seconds since it started, {figure: value})."""
    kind: str
    samples: list[tuple[float, dict[str, int]]] = field(default_factory=list)
    # Figures recorded for the reader but not judged (another process's, or
    # one that the judged ones already cover).
    informative: set[str] = field(default_factory=set)

    def add(self, seconds: float, figures: dict[str, int]) -> None:
        self.samples.append((seconds, dict(figures)))

    def names(self) -> list[str]:
        seen: dict[str, None] = {}
        for _, figures in self.samples:
            seen.update(dict.fromkeys(figures))
        return list(seen)

    def values(self, name: str) -> list[tuple[float, int]]:
        return [(t, f[name]) for t, f in self.samples if f.get(name) is not None]


@dataclass
class Figure:
    name: str
    first: int | None
    last: int | None
    largest_rise: int          # the most it rose over the whole run, warm-up included
    at_warm: int | None        # its value in the first sample after the warm-up
    rise_after_warm: int       # the most it stood above at_warm afterwards
    allowed: int | None        # None: not judged
    samples_after_warm: int

    @property
    def passed(self) -> bool:
        return self.allowed is None or self.rise_after_warm <= self.allowed


def largest_rise(values: list[int]) -> int:
    """The largest v[j] - v[i] over i < j; 0 for a series that never rises."""
    rise, lowest = 0, None
    for value in values:
        if lowest is not None:
            rise = max(rise, value - lowest)
        lowest = value if lowest is None else min(lowest, value)
    return rise


def judge_figure(series: Series, name: str, warm_up: float) -> Figure:
    points = series.values(name)
    values = [v for _, v in points]
    after = [v for t, v in points if t >= warm_up]
    allowed = None if name in series.informative else (RSS_SLACK_KIB if name in MEMORY else 0)
    at_warm = after[0] if after else None
    return Figure(name, values[0] if values else None, values[-1] if values else None,
                  largest_rise(values), at_warm,
                  max((v - at_warm for v in after), default=0) if after else 0,
                  allowed, len(after))


@dataclass
class Verdict:
    figures: list[Figure]
    problems: list[str]

    @property
    def passed(self) -> bool:
        return not self.problems and all(f.passed for f in self.figures)


def judge_series(series: Series, warm_up: float, minimum_checked: int = 2) -> Verdict:
    """Every figure judged; too few samples after the warm-up is a failure too,
    since nothing could then have been seen to rise."""
    figures = [judge_figure(series, name, warm_up) for name in series.names()]
    problems = []
    checked = sum(1 for t, _ in series.samples if t >= warm_up)
    if checked < minimum_checked:
        problems.append(f"only {checked} samples after the {warm_up:.0f} s warm-up")
    for f in figures:
        if not f.passed:
            unit = " KiB" if f.name in MEMORY else ""
            problems.append(f"{f.name} rose by {f.rise_after_warm}{unit} after the warm-up "
                            f"(from {f.at_warm}; at most {f.allowed}{unit} allowed)")
    return Verdict(figures, problems)


@dataclass
class Starts:
    """A start-and-stop run: what each start ended with, and the server before and after."""
    kind: str
    wanted: int
    statuses: list[int | None] = field(default_factory=list)
    failures: list[str] = field(default_factory=list)
    before: dict[str, int] = field(default_factory=dict)
    after: dict[str, int] = field(default_factory=dict)
    leftovers: list[str] = field(default_factory=list)
    seconds: float = 0.0
    notes: list[str] = field(default_factory=list)
    # Server figures shown but not held to their first value (a compositor's
    # resident memory moves with its own allocator, not with our clients).
    informative: set[str] = field(default_factory=set)

    def judged(self, totals: dict[str, int]) -> dict[str, int]:
        return {name: value for name, value in totals.items() if name not in self.informative}

    def problems(self) -> list[str]:
        problems = list(self.failures)
        if len(self.statuses) < self.wanted:
            problems.append(f"only {len(self.statuses)} of {self.wanted} starts ran")
        unclean = [(i, s) for i, s in enumerate(self.statuses) if s != 0]
        if unclean:
            problems.append(f"{len(unclean)} starts did not end with status 0: "
                            + ", ".join(f"#{i + 1}: {s}" for i, s in unclean[:10]))
        for name in sorted(set(self.judged(self.before)) | set(self.judged(self.after))):
            if self.before.get(name, 0) != self.after.get(name, 0):
                problems.append(f"the server's {name} went from {self.before.get(name, 0)} "
                                f"to {self.after.get(name, 0)}")
        if self.leftovers:
            problems.append("left behind: " + ", ".join(self.leftovers))
        return problems
