"""tools/chroot/build-root's cache: a root is built once for each suite and
package list and reused after, a changed list builds a new one, and a name
that is no suite is refused. mmdebstrap is replaced by a stand-in that
records its arguments and writes the tarball."""

from __future__ import annotations

import os
import subprocess
from pathlib import Path

import pytest

BUILD_ROOT = Path(__file__).resolve().parents[2] / "tools" / "chroot" / "build-root"
FAKE = """#!/bin/sh
echo "$*" >> "$FAKE_LOG"
for a; do case $a in *.tar.tmp) echo root > "$a" ;; esac; done
"""


@pytest.fixture
def build(tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "mmdebstrap").write_text(FAKE)
    (bin_dir / "mmdebstrap").chmod(0o755)
    log = tmp_path / "mmdebstrap.log"
    env = {**os.environ, "PATH": f"{bin_dir}:{os.environ['PATH']}", "FAKE_LOG": str(log),
           "QUILLOMIR_CHROOT_CACHE": str(tmp_path / "cache")}

    def run(*args: str):
        r = subprocess.run(["sh", str(BUILD_ROOT), *args], env=env, capture_output=True,
                           text=True, timeout=60)
        calls = log.read_text().splitlines() if log.exists() else []
        return r, calls

    return run


def test_each_suite_and_package_list_is_built_once(build):
    first, calls = build("trixie", "sway", "grim")
    assert first.returncode == 0, first.stderr
    tarball = Path(first.stdout.strip())
    assert tarball.name.startswith("trixie-minbase-") and tarball.read_text() == "root\n"
    assert len(calls) == 1 and "--include=sway,grim," in calls[0]
    assert "deb http://deb.debian.org/debian-security trixie-security main" in calls[0]

    again, calls = build("trixie", "sway", "grim")
    assert (again.stdout, len(calls)) == (first.stdout, 1), "the cached root was not reused"

    changed, calls = build("trixie", "sway")
    assert len(calls) == 2 and changed.stdout != first.stdout
    plain, calls = build()
    assert Path(plain.stdout.strip()).name.startswith("bookworm-minbase-")
    assert len(calls) == 3 and "--include" not in calls[2]


@pytest.mark.parametrize("suite, sources", [
    ("trixie", ["trixie main", "trixie-updates main", "trixie-security main"]),
    ("sid", ["sid main"]),  # unstable has no updates or security suites
])
def test_each_suite_gets_the_sources_it_has(build, suite, sources):
    r, calls = build(suite, "grim")
    assert r.returncode == 0, r.stderr
    assert all(f" {source}" in calls[0] for source in sources)
    assert calls[0].count(" main") == len(sources)


@pytest.mark.parametrize("suite", ["Trixie", "../trixie", "trixie 13"])
def test_a_name_that_is_no_suite_is_refused_before_building(build, suite):
    r, calls = build(suite)
    assert r.returncode == 2 and "not a Debian suite" in r.stderr
    assert calls == []
