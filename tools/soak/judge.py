"""The rules a soak run is judged by: after the warm-up no count may rise at
all, and resident memory by at most RSS_SLACK_KIB, each from its lowest value
after the warm-up; a judged figure may not go missing; a saver whose picture
(or, where no picture is taken, CPU time) stands still between two samples is
frozen. A start-and-stop run must end every saver cleanly and leave the server
as it found it."""

from __future__ import annotations

from dataclasses import dataclass, field

RSS_SLACK_KIB = 64
# Figures in KiB that may rise by RSS_SLACK_KIB; every other judged figure is a count.
MEMORY = {"rss", "rss_private"}
# Figures whose absence from a sample means 0: the X server lists only the
# resource kinds a client holds, so a kind that appears late rose from 0.
ZERO_WHEN_ABSENT = "x_"
# What a sample may carry to show that the saver is alive: a digest of its
# picture, and its CPU time (ns, every thread). Neither is a count.
PICTURE, CPU = "picture", "cpu_ns"
NOT_COUNTS = {PICTURE, CPU}


@dataclass
class Series:
    """One saver's samples: (seconds since it started, {figure: value})."""
    kind: str
    samples: list[tuple[float, dict[str, int]]] = field(default_factory=list)
    # Figures recorded for the reader but not judged (another process's, or
    # one that the judged ones already cover).
    informative: set[str] = field(default_factory=set)
    # Judged figures that every run must give (a probe that never answers
    # would otherwise leave them out unseen).
    required: set[str] = field(default_factory=set)
    # The most a figure may ever be (KiB for memory), at any sample.
    caps: dict[str, int] = field(default_factory=dict)

    def add(self, seconds: float, figures: dict[str, int]) -> None:
        self.samples.append((seconds, dict(figures)))

    def names(self) -> list[str]:
        seen: dict[str, None] = {}
        for _, figures in self.samples:
            seen.update(dict.fromkeys(figures))
        return list(seen)

    def values(self, name: str) -> list[tuple[float, int]]:
        if name.startswith(ZERO_WHEN_ABSENT):
            return [(t, f.get(name) or 0) for t, f in self.samples]
        return [(t, f[name]) for t, f in self.samples if f.get(name) is not None]


@dataclass
class Figure:
    name: str
    first: int | None
    last: int | None
    largest_rise: int          # the most it rose over the whole run, warm-up included
    at_warm: int | None        # after the warm-up, the low its largest rise climbed from
    rise_after_warm: int       # that rise
    allowed: int | None        # None: not judged
    samples_after_warm: int

    @property
    def missing(self) -> bool:
        """Judged, yet in no sample after the warm-up: nothing could be seen."""
        return self.allowed is not None and self.samples_after_warm == 0

    @property
    def passed(self) -> bool:
        return self.allowed is None or (not self.missing and self.rise_after_warm <= self.allowed)


def climb(values: list[int]) -> tuple[int, int | None]:
    """The largest v[j] - v[i] over i <= j, and the v[i] it climbed from (the
    lowest value before its peak); (0, first value) for a series that never rises."""
    rise, lowest, base = 0, None, values[0] if values else None
    for value in values:
        lowest = value if lowest is None else min(lowest, value)
        if value - lowest > rise:
            rise, base = value - lowest, lowest
    return rise, base


def largest_rise(values: list[int]) -> int:
    """The largest v[j] - v[i] over i < j; 0 for a series that never rises."""
    return climb(values)[0]


def judge_figure(series: Series, name: str, warm_up: float) -> Figure:
    points = series.values(name)
    values = [v for _, v in points]
    after = [v for t, v in points if t >= warm_up]
    allowed = None if name in series.informative else (RSS_SLACK_KIB if name in MEMORY else 0)
    rise, base = climb(after)
    return Figure(name, values[0] if values else None, values[-1] if values else None,
                  largest_rise(values), base, rise, allowed, len(after))


def standstills(series: Series, warm_up: float) -> list[tuple[float, float]]:
    """The pairs of samples after the warm-up between which the saver showed
    no life: the same picture, where pictures were taken, else the same CPU
    time. A saver whose timers stopped still repaints what is exposed (and so
    uses CPU), but its crawlet no longer moves."""
    after = [(t, f) for t, f in series.samples if t >= warm_up]
    pictured = any(f.get(PICTURE) is not None for _, f in after)
    name = PICTURE if pictured else CPU
    still = []
    for (t0, a), (t1, b) in zip(after, after[1:]):
        if a.get(name) is not None and a.get(name) == b.get(name):
            still.append((t0, t1))
    return still


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
    figures = [judge_figure(series, name, warm_up)
               for name in series.names() if name not in NOT_COUNTS]
    names = {f.name for f in figures}
    figures += [judge_figure(series, name, warm_up) for name in sorted(series.required - names)]
    problems = []
    checked = sum(1 for t, _ in series.samples if t >= warm_up)
    if checked < minimum_checked:
        problems.append(f"only {checked} samples after the {warm_up:.0f} s warm-up")
    for f in figures:
        if f.missing:
            problems.append(f"{f.name} is missing from every sample after the warm-up")
        elif not f.passed:
            unit = " KiB" if f.name in MEMORY else ""
            problems.append(f"{f.name} rose by {f.rise_after_warm}{unit} after the warm-up "
                            f"(from {f.at_warm}; at most {f.allowed}{unit} allowed)")
    for name, cap in sorted(series.caps.items()):
        over = [(t, v) for t, v in series.values(name) if v > cap]
        if over:
            t, v = max(over, key=lambda point: point[1])
            unit = " KiB" if name in MEMORY or name.startswith("rss") else ""
            problems.append(f"{name} reached {v}{unit} at {t:g} s, above its cap of {cap}{unit}")
    still = standstills(series, warm_up) if checked >= minimum_checked else []
    if still:
        what = "picture" if any(f.get(PICTURE) is not None for _, f in series.samples) \
            else "CPU time"
        problems.append(f"frozen: its {what} did not change between the samples at "
                        + ", ".join(f"{a:g} and {b:g} s" for a, b in still[:5]))
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
