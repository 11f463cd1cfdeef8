"""The start-and-stop run against a stand-in server: a cost the server pays
once passes, one it pays per start fails."""

from __future__ import annotations

import sys
import time
from types import SimpleNamespace
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "soak"))

import kinds  # noqa: E402
import soak  # noqa: E402


class StandIn:
    """A server whose shared-memory maps grow by `once` a moment after it
    opens and by `once_first` at its first client (costs paid once), and by
    `per_start` at every client it serves."""
    name, server_informative = "stand-in", set()

    def __init__(self, once=0, once_first=0, per_start=0):
        self.once, self.once_first, self.per_start = once, once_first, per_start
        self.opened = None
        self.served = 0

    def server_totals(self):
        # The server opens when it is first asked.
        self.opened = self.opened or time.monotonic()
        settled = self.once if time.monotonic() - self.opened > 0.3 else 0
        first = self.once_first if self.served else 0
        return {"shm_maps": 2 + settled + first + self.per_start * self.served, "clients": 0}

    def start(self, long_run):
        self.served += 1
        return SimpleNamespace(started=time.monotonic())

    def end(self, running):
        return kinds.Ended(0)

    kill = end

    def leftovers(self):
        return []


@pytest.fixture(autouse=True)
def quick(monkeypatch):
    monkeypatch.setattr(soak, "DWELLS", (0.0, 0.05))


@pytest.mark.parametrize("server, problem", [
    (StandIn(), None),
    # A session's own client that maps its buffers just after the server
    # answers, and what the first client sets up: paid once, whatever the count.
    (StandIn(once=2), None),
    (StandIn(once_first=2), None),
    (StandIn(once=2, per_start=1), "the server's shm_maps went from 5 to 10"),
])
def test_a_cost_paid_once_passes_and_one_paid_per_start_fails(server, problem):
    problems = soak.many_starts(server, 3).problems()
    assert problems == ([] if problem is None else [problem])
