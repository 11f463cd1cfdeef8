"""For check_install.py: the staged metainfo, desktop entries and icon through
their validators, and the releases that CMake reads from a changelog. Each
check returns its failures."""

from __future__ import annotations

import configparser
import re
import subprocess
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
APP_ID = "org.example.quillomir"
# Debian's own screen-saver entries get this hint too: the reserved category
# alone keeps them out of the menus.
SAVER_HINT = 'value "Screensaver;" for key "Categories" in group "Desktop Entry" does not ' \
             "contain a registered main category"


def run(*args) -> subprocess.CompletedProcess:
    return subprocess.run([str(a) for a in args], capture_output=True, text=True)


def check_tree(usr: Path, version: str) -> list[str]:
    failures: list[str] = []
    metainfo = usr / "share" / "metainfo" / f"{APP_ID}.metainfo.xml"
    if not metainfo.is_file():
        return [f"no {metainfo.name} in /usr/share/metainfo"]
    # Any hint, pedantic ones included, fails: the file alone, then the tree
    # with the launchable and the icon.
    for command, target in (("validate", metainfo), ("validate-tree", usr.parent)):
        said = run("appstreamcli", command, "--pedantic", "--no-net", target)
        if said.returncode != 0 or re.search(r"^[EWIP]: ", said.stdout, re.M):
            failures.append(f"appstreamcli {command}: {said.stdout.strip()} {said.stderr}")
    for entry in sorted((usr / "share" / "applications").rglob("*.desktop")):
        said = run("desktop-file-validate", entry)
        lines = [line for line in said.stdout.splitlines()
                 if not (entry.parent.name == "screensavers" and SAVER_HINT in line)]
        if said.returncode != 0 or lines:
            failures.append(f"desktop-file-validate {entry.name}: {lines}")

    root = ET.parse(metainfo).getroot()
    releases = [r.get("version") for r in root.iter("release")]
    if releases[:1] != [version]:
        failures.append(f"the newest release is {releases[:1]}, not {version}")
    entry = configparser.ConfigParser(interpolation=None)
    entry.read(usr / "share" / "applications" / str(root.findtext("launchable")))
    icon = usr / "share" / "icons" / "hicolor" / "scalable" / "apps" / f"{APP_ID}.svg"
    if entry.get("Desktop Entry", "Icon", fallback=None) != APP_ID or not icon.is_file():
        failures.append(f"the launchable does not name an installed icon {icon.name}")
    # Each screenshot is one of the repository's pictures, of the size given.
    for image in root.iter("image"):
        picture = ROOT / "docs" / "images" / (image.text or "").rsplit("/", 1)[-1]
        head = picture.read_bytes()[:24] if picture.is_file() else b""
        size = (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big"))
        if "/docs/images/" not in (image.text or "") or not head.startswith(b"\x89PNG") \
                or size != (int(image.get("width", 0)), int(image.get("height", 0))):
            failures.append(f"the screenshot {image.text} is no {image.attrib} PNG in docs/images")
    return failures


ENTRY = ("quillomir ({}) unstable; urgency=medium\n\n{}\n"
         " -- The Quillomir developers <maintainers@quillomir.example.org>  {} 10:00:00 +0000\n\n")
# A changelog, the project version, and the releases it gives (version, date,
# notes) or the error that stops the configuration.
CHANGELOG_CASES = [
    (ENTRY.format("1.0.0.9-2", "  * Packaging.\n", "Wed, 9 Dec 2026")
     + ENTRY.format("1.0.0.9-1", "  * New.\n", "Tue, 08 Dec 2026")
     + ENTRY.format("1:1.0.0.8", "  * First.\n", "Sun, 01 Nov 2026"),
     "1.0.0.9", [("1.0.0.9", "2026-12-09", ["Packaging."]), ("1.0.0.8", "2026-11-01", ["First."])]),
    (ENTRY.format("1.0.0.9", "  * Fix <a> & [b]; then c\n    and d.\n  * Two.\n", "Fri, 31 Dec 2027"),
     "1.0.0.9", [("1.0.0.9", "2027-12-31", ["Fix <a> & [b]; then c and d.", "Two."])]),
    (ENTRY.format("1.0.0.8-1", "  * Old.\n", "Tue, 08 Dec 2026"), "1.0.0.9",
     "the newest entry is 1.0.0.8"),
    (ENTRY.format("1.0.0.9", "", "Tue, 08 Dec 2026"), "1.0.0.9", "without a version, a date"),
    ("quillomir (1.0.0.9) unstable; urgency=medium\n\n  * A.\n", "1.0.0.9", "no complete entry"),
]


def releases_from(changelog: str, version: str) -> tuple[list, str]:
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "changelog").write_text(changelog)
        (Path(folder) / "run.cmake").write_text(
            "cmake_minimum_required(VERSION 3.25)\n"
            f"include({ROOT}/cmake/changelog_releases.cmake)\n"
            f"quillomir_changelog_releases({folder}/changelog {version} out)\n"
            f"file(WRITE {folder}/out.xml \"<releases>${{out}}</releases>\")\n")
        said = run("cmake", "-P", Path(folder) / "run.cmake")
        try:
            root = ET.parse(Path(folder) / "out.xml").getroot() if said.returncode == 0 else None
        except ET.ParseError as e:
            return [], f"the releases are not XML: {e}"
        if root is None:
            return [], " ".join(said.stderr.split())
        return [(r.get("version"), r.get("date"), [li.text for li in r.iter("li")])
                for r in root.iter("release")], ""


def check_changelog_releases() -> list[str]:
    failures = []
    for changelog, version, expected in CHANGELOG_CASES:
        releases, error = releases_from(changelog, version)
        if (expected not in error) if isinstance(expected, str) else releases != expected:
            failures.append(f"changelog {changelog.splitlines()[0]!r}, project {version}: "
                            f"expected {expected!r}, got {releases or error!r}")
    return failures
