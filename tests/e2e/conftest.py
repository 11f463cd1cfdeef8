"""pytest wiring for the end-to-end cases: the run's options, the one Wine prefix
every case clones, and the per-case fixtures (display, prefix clone, saver
processes) whose teardown always stops what the case started, whether it
passed, failed or ran out of time."""

from __future__ import annotations

import fcntl
import os
import re
import signal
import sys
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
import xwine  # noqa: E402  (harness put tools/ on the path)

DEFAULT_SCR = harness.ROOT / "build" / "win64" / "Quillomir.scr"
DEFAULT_OUT = harness.ROOT / "build" / "e2e"


def pytest_addoption(parser):
    group = parser.getgroup("quillomir", "Quillomir end-to-end")
    group.addoption("--scr", type=Path,
                    default=Path(os.environ.get("QUILLOMIR_E2E_SCR") or DEFAULT_SCR),
                    help="the saver to drive (default $QUILLOMIR_E2E_SCR or "
                         "build/win64/Quillomir.scr); its probe must sit beside it")
    group.addoption("--out", type=Path, default=DEFAULT_OUT,
                    help="screenshots, logs and the Wine prefix (default build/e2e)")
    group.addoption("--keep-prefix", action="store_true",
                    help="reuse the Wine prefix of an earlier run instead of making it afresh")


def pytest_configure(config):
    config.addinivalue_line("markers", "case_timeout(seconds): the case's time limit, "
                                       "scaled by QUILLOMIR_E2E_TIME_SCALE")
    for name, what in (("run_mode", "run mode (/S) and the switches that open nothing"),
                       ("config_mode", "the settings dialog and the About box"),
                       ("robustness", "bad stored settings, odd command lines, a second saver")):
        config.addinivalue_line("markers", f"{name}: {what}")


def _interrupt(signum, frame):
    # As Ctrl-C does: pytest then still runs the fixtures' teardown.
    raise KeyboardInterrupt(f"signal {signum}")


def _stop_on_termination_signals() -> None:
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, _interrupt)


def _is_controller(config) -> bool:
    return not hasattr(config, "workerinput")


def pytest_sessionstart(session):
    """The controller (or a run without xdist) makes the run's Wine prefix once,
    before any worker starts."""
    config = session.config
    _stop_on_termination_signals()
    if not _is_controller(config) or config.option.collectonly:
        return
    scr = config.option.scr.resolve()
    if not scr.is_file():
        raise pytest.UsageError(f"{scr}: no such file; build it first "
                                f"(cmake --build --preset win64)")
    out = config.option.out.resolve()
    out.mkdir(parents=True, exist_ok=True)
    # Two runs in one output directory would share prefix clones and case folders.
    lock = open(out / ".run.lock", "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        raise pytest.UsageError(f"another e2e run is using {out}; use --out for a second one")
    config._quillomir_lock = lock  # held until the process ends
    base = out / "prefix"
    secs = xwine.make_prefix(base, fresh=not config.option.keep_prefix)
    config._quillomir_prefix_note = (f"Wine prefix {base} ready in {secs:.1f} s; "
                                     f"against {scr}; time scale {harness.TIME_SCALE:g}")


def pytest_report_header(config):
    return getattr(config, "_quillomir_prefix_note", None)


def pytest_collection_modifyitems(config, items):
    """Long cases first, so that they overlap with everything else (xdist hands
    cases out in this order)."""
    items.sort(key=lambda item: -_timeout_of(item))


def _timeout_of(item) -> float:
    mark = item.get_closest_marker("case_timeout")
    return float(mark.args[0]) if mark and mark.args else 60.0


class CaseTimeout(Exception):
    pass


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_call(item):
    """The case's time limit, as an exception raised wherever the case is waiting;
    the fixtures' teardown then stops what it started."""
    limit = harness.scaled(_timeout_of(item))

    def expired(signum, frame):
        raise CaseTimeout(f"timed out after {limit:.0f} s")

    previous = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, limit)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    case_dir = getattr(item, "_quillomir_case_dir", None)
    if report.when == "call" and case_dir is not None:
        if report.failed:
            message = str(call.excinfo.value) if call.excinfo else "failed"
            with open(case_dir / "log.txt", "a") as f:
                f.write(f"FAIL {message}\n")
        report.sections.append(("artefacts", str(case_dir)))


# --------------------------------------------------------------------------------------
# Fixtures

@dataclass
class Run:
    scr: Path
    out: Path
    base_prefix: Path
    first_display: int


@pytest.fixture(scope="session")
def e2e_run(request) -> Run:
    config = request.config
    out = config.option.out.resolve()
    base = out / "prefix"
    if not (base / "system.reg").exists():
        pytest.fail(f"the run's Wine prefix {base} is missing", pytrace=False)
    # Each xdist worker starts its search for a free display elsewhere, so that
    # parallel cases rarely race for the same number.
    worker = os.environ.get("PYTEST_XDIST_WORKER", "gw0")
    index = int(re.sub(r"\D", "", worker) or 0)
    return Run(config.option.scr.resolve(), out, base, 50 + 10 * index)


def _case_name(item) -> str:
    name = item.name.removeprefix("test_")
    return re.sub(r"[^A-Za-z0-9_.-]+", "-", name).strip("-")


@pytest.fixture
def case_dir(request, e2e_run) -> Path:
    path = e2e_run.out / "cases" / _case_name(request.node)
    if path.exists():
        import shutil
        shutil.rmtree(path)
    path.mkdir(parents=True)
    request.node._quillomir_case_dir = path
    return path


@pytest.fixture
def display(case_dir, e2e_run):
    """The case's Xvfb, started by ctx.display(); stopped last."""
    slot = harness.DisplaySlot(case_dir, e2e_run.first_display)
    yield slot
    slot.stop()


@pytest.fixture
def wine_prefix(e2e_run, case_dir, display):
    """The case's clone of the run's prefix; its wineserver is ended and the clone
    deleted after the case, before the display goes."""
    slot = harness.PrefixSlot(e2e_run.base_prefix, e2e_run.out / "prefixes" / case_dir.name,
                              case_dir)
    yield slot
    slot.close()


@pytest.fixture
def saver(wine_prefix):
    """Programs the case started (the saver, mostly); stopped first of all."""
    procs = harness.Processes()
    yield procs
    procs.stop_all()


@pytest.fixture
def ctx(request, e2e_run, case_dir, display, wine_prefix, saver) -> harness.Context:
    context = harness.Context(_case_name(request.node), case_dir, e2e_run.scr, display,
                              wine_prefix, saver)
    t0 = time.monotonic()
    yield context
    context.log(f"case body and checks took {time.monotonic() - t0:.1f} s")
