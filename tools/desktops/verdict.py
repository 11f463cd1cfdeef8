"""What the desktop matrix concludes from what it saw: whether a picture is
covered with the crawlet, whether a run that refuses did so in its one line,
each desktop's verdict, and the table. Standard library only; the runner
(tools/desktops/run-matrix) gathers the observations."""

from __future__ import annotations

from dataclasses import dataclass, field

# The crawlet's default colour is pure blue; its discs' edges are blended into
# the black, so a pixel counts as the crawlet's when blue dominates it.
MIN_CRAWLET_PIXELS = 100
MIN_BLACK_SHARE = 0.90
# A disc is 16 pixels across at scale 1; a row through the crawlet may cross
# two of them where they overlap.
DISC_ROW = (15, 24)


def parse_ppm(data: bytes) -> tuple[int, int, bytes]:
    """A binary PPM (grim -t ppm) as (width, height, RGB bytes)."""
    parts = data.split(b"\n", 3)
    if len(parts) != 4 or parts[0] != b"P6" or parts[2] != b"255":
        raise ValueError("not an 8-bit binary PPM")
    try:
        width, height = map(int, parts[1].split())
    except ValueError:
        raise ValueError(f"a PPM size of {parts[1][:40]!r}") from None
    if width <= 0 or height <= 0 or len(parts[3]) != width * height * 3:
        raise ValueError(f"a {width}x{height} PPM with {len(parts[3])} bytes of pixels")
    return width, height, parts[3]


def from_xrgb(data: bytes, width: int, height: int, stride: int) -> bytes:
    """RGB bytes from little-endian 32-bit XRGB/ARGB rows (KWin's and
    QImage's ARGB32 in memory: B, G, R, A)."""
    if width <= 0 or height <= 0 or stride < width * 4 or len(data) < stride * height:
        raise ValueError(f"{len(data)} bytes cannot hold {height} rows of {stride}")
    out = bytearray()
    for y in range(height):
        row = data[y * stride:y * stride + width * 4]
        out += bytes(b for i in range(0, len(row), 4) for b in (row[i + 2], row[i + 1], row[i]))
    return bytes(out)


@dataclass
class Picture:
    width: int
    height: int
    black: int
    crawlet: int
    widest: int = 0  # the most crawlet pixels in one row

    @classmethod
    def of(cls, width: int, height: int, rgb: bytes) -> "Picture":
        black = crawlet = widest = 0
        row = width * 3
        for start in range(0, len(rgb), row):
            in_row = 0
            for i in range(start, start + row, 3):
                r, g, b = rgb[i], rgb[i + 1], rgb[i + 2]
                if r < 16 and g < 16 and b < 16:
                    black += 1
                elif b >= 96 and b > 2 * max(r, g):
                    in_row += 1
            crawlet += in_row
            widest = max(widest, in_row)
        return cls(width, height, black, crawlet, widest)

    @classmethod
    def joined(cls, shots: list["Picture"]) -> "Picture":
        """Several outputs' pictures counted as one (of their pixels in all)."""
        return cls(sum(p.width * p.height for p in shots), 1, sum(p.black for p in shots),
                   sum(p.crawlet for p in shots), max((p.widest for p in shots), default=0))

    @property
    def covered(self) -> bool:
        """Black all over but for the crawlet (and its label), crawlet drawn."""
        total = self.width * self.height
        return self.crawlet >= MIN_CRAWLET_PIXELS and \
            self.black + self.crawlet >= MIN_BLACK_SHARE * total

    def describe(self) -> str:
        total = self.width * self.height
        size = f"{total} pixels" if self.height == 1 else f"{self.width}x{self.height}"
        return (f"{size}, {100 * self.black / total:.1f}% black, "
                f"{self.crawlet} crawlet pixels")


def judge_outputs(shots: dict[str, tuple[int, "Picture"]], on: str = "") -> tuple[bool, str]:
    """Each output's picture (by name, with its scale): every one covered, the
    crawlet on exactly one (`on`, where named) at that output's scale, the
    others all black."""
    drawn = [name for name, (_, shot) in shots.items() if shot.crawlet >= MIN_CRAWLET_PIXELS]
    if len(drawn) != 1:
        return False, f"the crawlet on {len(drawn)} of {len(shots)} outputs"
    name = drawn[0]
    if on and name != on:
        return False, f"the crawlet on {name}, not on {on}"
    scale, shot = shots[name]
    low, high = DISC_ROW
    if not low * scale <= shot.widest <= high * scale:
        return False, f"{name} (scale {scale}): the crawlet is {shot.widest} pixels wide"
    if not shot.covered:
        return False, f"{name} is not covered: {shot.describe()}"
    for other, (_, rest) in shots.items():
        if other != name and (rest.crawlet or rest.black < 0.999 * rest.width * rest.height):
            return False, f"{other} is not black: {rest.describe()}"
    return True, f"the crawlet on {name} at scale {scale}, {shot.widest} pixels wide"


def one_line_refusal(status: int | None, stderr: str) -> bool:
    """Status 1 and exactly one non-empty line on standard error."""
    lines = [line for line in stderr.splitlines() if line.strip()]
    return status == 1 and len(lines) == 1


# What each desktop is expected to do: cover it, or refuse it in one line.
COVERS, REFUSES = "covers", "refuses"


@dataclass
class Result:
    """One desktop's row. None in a check means it was not tried there."""
    desktop: str
    version: str
    expect: str
    started: bool = False
    start_note: str = ""
    covered: bool | None = None  # read from the picture
    outputs: int = 1  # how many outputs the desktop had
    scale: int | None = None  # the scale of the output the crawlet was judged on
    outputs_ok: bool | None = None  # every output covered, the crawlet on one
    alive: bool | None = None  # still running once its covers were made
    sigterm_0: bool | None = None
    key_ends: bool | None = None
    idle_starts: bool | None = None
    dies_1: bool | None = None  # status 1 and one line when the compositor is killed
    refused: bool | None = None
    started_by: str = ""  # the idle daemon that started it
    not_run: str = ""  # why a compositor that cannot start here did not
    notes: list[str] = field(default_factory=list)

    def failures(self) -> list[str]:
        """What went wrong where it was expected to go right."""
        if not self.started:
            return [] if self.not_run else [f"did not start: {self.start_note}"]
        wrong = []
        if self.expect == COVERS:
            checks = {"covered": self.covered, "every output": self.outputs_ok,
                      "running": self.alive, "1 when the compositor dies": self.dies_1,
                      "SIGTERM gives 0": self.sigterm_0, "a key ends it": self.key_ends,
                      "the idle daemon starts it": self.idle_starts}
            wrong += [name for name, ok in checks.items() if ok is False]
            if self.alive is None:
                wrong.append("the saver was never seen running")
        elif not self.refused:
            wrong.append("no one-line refusal with status 1")
        return wrong

    @property
    def verdict(self) -> str:
        if not self.started:
            return "not run" if self.not_run else "FAIL"
        return "FAIL" if self.failures() else "pass"


def mark(value: bool | None) -> str:
    return "-" if value is None else ("yes" if value else "NO")


COLUMNS = ("desktop", "version", "expected", "verdict", "covered", "outputs", "SIGTERM 0",
           "key ends", "idle starts", "dies 1", "refused", "notes")


def table(results: list[Result]) -> str:
    """A Markdown table, one row a desktop."""
    rows = [COLUMNS, tuple("---" for _ in COLUMNS)]
    for r in results:
        notes = r.notes if r.started else [r.not_run or r.start_note, *r.notes]
        notes = notes + [f"failed: {f}" for f in r.failures() if r.started]
        rows.append((r.desktop, r.version, r.expect, r.verdict, mark(r.covered),
                     mark(r.outputs_ok), mark(r.sigterm_0), mark(r.key_ends),
                     mark(r.idle_starts), mark(r.dies_1), mark(r.refused),
                     "; ".join(n for n in notes if n)))
    return "\n".join("| " + " | ".join(row) + " |" for row in rows)
