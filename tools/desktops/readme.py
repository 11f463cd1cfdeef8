"""The README's desktop table, made from what the matrix saw: one row a
desktop (desktop, version, what works, how it is started), between two
marker lines in README.md. The matrix compares its rows with the README's
and names each cell that differs, so that the page cannot drift from what was
run; `run-matrix --write-readme` writes them."""

from __future__ import annotations

from desktops import SUITES, Desktop
from verdict import COVERS, Result

BEGIN = "<!-- desktop table: written by tools/desktops/run-matrix --write-readme -->"
END = "<!-- end of the desktop table -->"
HEADER = ("desktop", "version", "what works", "how it is started")


def works(d: Desktop, r: Result) -> str:
    if not r.started:
        return f"not run: {r.not_run}" if r.not_run else f"FAILS: did not start ({r.start_note})"
    failed = r.failures()
    if d.expect != COVERS:
        said = "refuses in one line, status 1" + (f" ({d.note})" if d.note else "")
        return f"FAILS: {'; '.join(failed)}" if failed else said
    parts = []
    if r.covered and r.outputs_ok:
        parts.append(f"covers {r.outputs} outputs, the crawlet on one at scale {r.scale}")
    elif r.covered:
        parts.append("covers the screen, with the crawlet")
    elif r.covered is None and r.alive:
        parts.append("stays up (its picture is not read)")
    for ok, what in ((r.key_ends, "a key ends it"), (r.sigterm_0, "SIGTERM gives 0"),
                     (r.dies_1, "status 1 and one line when the compositor dies")):
        if ok:
            parts.append(what)
    if failed:
        parts.append(f"FAILS: {', '.join(failed)}")
    return "; ".join(parts)


def row(d: Desktop, r: Result) -> tuple[str, str, str, str]:
    known = r.version not in ("", "not installed")
    version = f"{r.version} ({SUITES[d.suite]})" if known else "-"
    cells = (d.label or d.name, version, works(d, r), r.started_by or "-")
    return tuple(cell.replace("|", "/") for cell in cells)


def table(rows: list[tuple[str, ...]]) -> str:
    lines = [HEADER, tuple("---" for _ in HEADER), *rows]
    return "\n".join("| " + " | ".join(cells) + " |" for cells in lines)


def section(readme: str) -> tuple[int, int]:
    """Where the table lies in the README (between the markers), or ValueError."""
    start, end = readme.find(BEGIN), readme.find(END)
    if start < 0 or end < start:
        raise ValueError(f"README.md has no desktop table between {BEGIN!r} and {END!r}")
    return start + len(BEGIN), end


def cells(readme: str) -> dict[str, dict[str, str]]:
    """The README's rows, by desktop, each cell by its column's name."""
    start, end = section(readme)
    found = {}
    for line in readme[start:end].strip().splitlines()[2:]:
        values = [cell.strip() for cell in line.strip().strip("|").split(" | ")]
        found[values[0]] = dict(zip(HEADER, values))
    return found


def differences(readme: str, rows: list[tuple[str, ...]], whole: bool = True) -> list[str]:
    """Each cell where the README says other than the matrix saw; `whole`
    when every desktop was run, so that a row only the README has counts.
    Versions are left to stale_versions: a root built afresh takes whatever
    the mirror serves that day (unstable moves weekly), and that alone must
    not fail a run of unchanged code."""
    have = cells(readme)
    wrong = []
    for values in rows:
        theirs = have.get(values[0])
        if theirs is None:
            wrong.append(f"README.md has no row for {values[0]}")
            continue
        for column, value in zip(HEADER[1:], values[1:]):
            if column != "version" and theirs.get(column) != value:
                wrong.append(f"README.md, {values[0]}, {column}: it says "
                             f"{theirs.get(column)!r}, the matrix saw {value!r}")
    if whole:
        seen = {values[0] for values in rows}
        wrong += [f"README.md has a row for {name}, which the matrix has not" for name in have
                  if name not in seen]
    return wrong


def stale_versions(readme: str, rows: list[tuple[str, ...]]) -> list[str]:
    """The rows whose version the README gives other than the root holds."""
    have = cells(readme)
    return [f"README.md, {values[0]}: it names version {have[values[0]].get('version')!r}, "
            f"the root holds {values[1]!r} (run-matrix --write-readme brings it up to date)"
            for values in rows
            if values[0] in have and have[values[0]].get("version") != values[1]]


def rewritten(readme: str, rows: list[tuple[str, ...]], whole: bool = True) -> str:
    """The README with its table made of `rows`; with `whole` false (some
    desktops run), the README's other rows stay as they were."""
    start, end = section(readme)
    if not whole:
        new = {values[0]: values for values in rows}
        old = [tuple(row[c] for c in HEADER) for row in cells(readme).values()]
        rows = [new.pop(values[0], values) for values in old] + list(new.values())
    return readme[:start] + "\n" + table(rows) + "\n" + readme[end:]
