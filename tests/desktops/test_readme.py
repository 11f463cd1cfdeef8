"""The README's desktop table against what the matrix saw: each cell that
differs is named, a row only one side has is named, a partial run leaves the
other rows alone, and a desktop's row says what worked and what did not."""

from __future__ import annotations

import sys
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "desktops"))

import readme  # noqa: E402
from desktops import Desktop  # noqa: E402
from verdict import COVERS, REFUSES, Result  # noqa: E402

SWAY = ("sway", "1.10 (Debian 13)", "covers 2 outputs", "swayidle")
CAGE = ("cage", "0.2 (Debian 13)", "refuses in one line, status 1", "-")


def page(*rows: tuple[str, ...]) -> str:
    return f"# Intro\n\n{readme.BEGIN}\n{readme.table(list(rows))}\n{readme.END}\n\nMore.\n"


@pytest.mark.parametrize("theirs, seen, whole, wrong", [
    ([SWAY, CAGE], [SWAY, CAGE], True, []),
    ([SWAY, CAGE], [(*SWAY[:2], "covers the screen", "swayidle"), CAGE], True,
     ["README.md, sway, what works: it says 'covers 2 outputs', the matrix saw "
      "'covers the screen'"]),
    ([SWAY], [SWAY, CAGE], True, ["README.md has no row for cage"]),
    ([SWAY, CAGE], [SWAY], True, ["README.md has a row for cage, which the matrix has not"]),
    ([SWAY, CAGE], [SWAY], False, []),  # --only sway
    ([SWAY], [("sway", "1.11 (Debian 13)", *SWAY[2:])], True, []),  # a newer root: only noted
])
def test_each_cell_that_differs_is_named(theirs, seen, whole, wrong):
    assert readme.differences(page(*theirs), seen, whole) == wrong


def test_a_version_the_root_no_longer_holds_is_noted():
    newer = ("sway", "1.11 (Debian 13)", *SWAY[2:])
    assert readme.stale_versions(page(SWAY, CAGE), [newer, CAGE]) == [
        "README.md, sway: it names version '1.10 (Debian 13)', the root holds "
        "'1.11 (Debian 13)' (run-matrix --write-readme brings it up to date)"]


def test_a_readme_without_the_markers_is_refused():
    with pytest.raises(ValueError, match="no desktop table"):
        readme.differences("# Intro\n", [SWAY])


def test_writing_some_rows_keeps_the_others_and_the_page_around_them():
    newer = ("cage", "0.3 (Debian 13)", *CAGE[2:])
    written = readme.rewritten(page(SWAY, CAGE), [newer], whole=False)
    assert readme.differences(written, [SWAY, newer]) == []
    assert written.startswith("# Intro\n") and written.endswith("More.\n")
    assert readme.differences(readme.rewritten(written, [SWAY]), [SWAY]) == []


COVERING = Desktop("sway", "sway", ["sway"], COVERS)


@pytest.mark.parametrize("d, r, works", [
    (COVERING, Result("sway", "1", COVERS, started=True, covered=True, outputs=2, scale=2,
                      outputs_ok=True, alive=True, sigterm_0=True, key_ends=True, dies_1=True),
     "covers 2 outputs, the crawlet on one at scale 2; a key ends it; SIGTERM gives 0; "
     "status 1 and one line when the compositor dies"),
    (COVERING, Result("KWin", "1", COVERS, started=True, alive=True, sigterm_0=True),
     "stays up (its picture is not read); SIGTERM gives 0"),
    (COVERING, Result("sway", "1", COVERS, started=True, covered=True, alive=True,
                      sigterm_0=False),
     "covers the screen, with the crawlet; FAILS: SIGTERM gives 0"),
    (COVERING, Result("w", "1", COVERS, not_run="it needs a render node"),
     "not run: it needs a render node"),
    (COVERING, Result("w", "1", COVERS, start_note="exited with 1"),
     "FAILS: did not start (exited with 1)"),
    (Desktop("cage", "cage", ["cage"], REFUSES, note="no layer shell"),
     Result("cage", "1", REFUSES, started=True, refused=True),
     "refuses in one line, status 1 (no layer shell)"),
])
def test_a_row_says_what_worked_and_what_failed(d, r, works):
    assert readme.works(d, r) == works
