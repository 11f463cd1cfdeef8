#!/usr/bin/env python3
"""`make install` for Linux, staged under a scratch DESTDIR: every file lands
where xscreensaver and the desktop look for it, the option file is well formed
and built like the ones xscreensaver ships, every argument it can pass is one
that the saver accepts, the man page formats without warnings, and the
metainfo, the desktop entries and the icon pass their validators
(check_metainfo.py).

usage: check_install.py BUILD_DIR VERSION"""

from __future__ import annotations

import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

sys.dont_write_bytecode = True  # keep the source tree clean
import check_metainfo  # noqa: E402

failures: list[str] = []


def check(condition: bool, message: str) -> None:
    if not condition:
        failures.append(message)


def shipped_vocabulary() -> tuple[set[str], dict[str, set[str]]]:
    """The elements, and each element's attributes, used by the option files
    installed with xscreensaver."""
    elements: set[str] = set()
    attributes: dict[str, set[str]] = {}
    for path in glob.glob("/usr/share/xscreensaver/config/*.xml"):
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            continue
        for node in root.iter():
            elements.add(node.tag)
            attributes.setdefault(node.tag, set()).update(node.attrib)
    return elements, attributes


def check_option_file(xml: Path, saver: Path) -> None:
    lint = subprocess.run(["xmllint", "--noout", str(xml)], capture_output=True, text=True)
    check(lint.returncode == 0, f"xmllint: {lint.stderr.strip()}")
    root = ET.parse(xml).getroot()
    check(root.tag == "screensaver", "the root element is not <screensaver>")
    check(root.get("name") == "quillomir", "screensaver name is not quillomir")
    check(bool(root.get("_label")), "screensaver has no _label")
    commands = root.findall("command")
    check([c.get("arg") for c in commands] == ["--root"], "the command is not --root")
    check(root.find("_description") is not None, "no _description")

    elements, attributes = shipped_vocabulary()
    if elements:
        for node in root.iter():
            check(node.tag in elements, f"<{node.tag}> is not used by xscreensaver's own files")
            unknown = set(node.attrib) - attributes.get(node.tag, set())
            check(not unknown, f"<{node.tag}> has attributes xscreensaver does not use: {unknown}")

    ids = [node.get("id") for node in root.iter() if node.get("id")]
    check(len(ids) == len(set(ids)), "ids are not unique")
    for select in root.findall(".//select"):
        options = select.findall("option")
        check(len(options) >= 2, f"select {select.get('id')} offers no choice")
        check(options[0].get("arg-set") is None,
              f"select {select.get('id')}: the first choice should pass nothing")
        for option in options:
            check(bool(option.get("_label")), f"option {option.get('id')} has no _label")
            arg = option.get("arg-set")
            if arg:
                # The saver must accept every argument that the settings window can pass.
                run = subprocess.run([str(saver), *arg.split(), "--version"],
                                     capture_output=True, text=True)
                check(run.returncode == 0, f"the saver refuses {arg!r}: {run.stderr.strip()}")


def check_gnome_extension(usr: Path) -> None:
    """The extension sits in the folder named by its UUID, which the Shell
    checks, and its schema where the Shell looks for a system extension's."""
    folders = list((usr / "share" / "gnome-shell" / "extensions").glob("*"))
    check(len(folders) == 1, f"not one GNOME Shell extension folder: {folders}")
    for folder in folders:
        meta = json.loads((folder / "metadata.json").read_text())
        check(meta.get("uuid") == folder.name,
              f"{folder.name} holds the extension {meta.get('uuid')}")
        for module in ("extension.js", "prefs.js"):
            check((folder / module).is_file(), f"the extension has no {module}")
        schemas = usr / "share" / "glib-2.0" / "schemas"
        schema = schemas / f"{meta.get('settings-schema')}.gschema.xml"
        check(schema.is_file(), f"{schema.name} is not in /usr/share/glib-2.0/schemas")
        if schema.is_file() and shutil.which("glib-compile-schemas"):
            with tempfile.TemporaryDirectory() as scratch:
                shutil.copy(schema, scratch)
                run = subprocess.run(["glib-compile-schemas", "--strict", scratch],
                                     capture_output=True, text=True)
                check(run.returncode == 0, f"glib-compile-schemas: {run.stderr.strip()}")


def main() -> int:
    build_dir, version = sys.argv[1], sys.argv[2]
    stage = Path(tempfile.mkdtemp(prefix="quillomir-install-"))
    try:
        run = subprocess.run(["cmake", "--install", build_dir, "--prefix", "/usr"],
                             env={**os.environ, "DESTDIR": str(stage)},
                             capture_output=True, text=True)
        check(run.returncode == 0, f"cmake --install failed: {run.stderr.strip()}")
        # Removing what the manifest lists must remove every file and link.
        manifest = Path(build_dir) / "install_manifest.txt"
        listed = set(manifest.read_text().splitlines()) if manifest.is_file() else set()
        # It names the paths without DESTDIR, as they are on the installed system.
        installed = {f"/{p.relative_to(stage)}" for p in stage.rglob("*")
                     if p.is_symlink() or p.is_file()}
        unlisted = sorted(installed - listed)
        check(not unlisted, f"installed but not in install_manifest.txt: {unlisted}")
        usr = stage / "usr"
        saver = usr / "libexec" / "xscreensaver" / "quillomir"
        check(saver.is_file() and os.access(saver, os.X_OK),
              "the saver is not in /usr/libexec/xscreensaver")
        # Named as the command, so that `pkill -x quillomir` finds it from its
        # first instruction.
        wayland = usr / "libexec" / "quillomir" / "quillomir"
        check(wayland.is_file() and os.access(wayland, os.X_OK),
              "the Wayland saver is not /usr/libexec/quillomir/quillomir")
        check(not list(saver.parent.glob("quillomir-*")), "a quillomir-* is left beside the saver")
        link = usr / "bin" / "quillomir"
        check(link.is_symlink() and link.resolve() == saver.resolve(),
              "/usr/bin/quillomir does not lead to the saver")
        # The build was configured for another prefix: --config must still find
        # the dialog installed beside it. Without a display the dialog itself
        # says so, which shows that it was found and started.
        if (usr / "bin" / "quillomir-settings").is_file():
            env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            config = subprocess.run([str(link), "--config"], env=env, capture_output=True,
                                    text=True, timeout=30)
            check("not installed" not in config.stderr and "display" in config.stderr,
                  f"quillomir --config did not start the installed dialog: {config.stderr.strip()}")
        xml = usr / "share" / "xscreensaver" / "config" / "quillomir.xml"
        check(xml.is_file(), "quillomir.xml is not in /usr/share/xscreensaver/config")
        entry = usr / "share" / "applications" / "screensavers" / "quillomir.desktop"
        check(entry.is_file() and f"Exec=/usr/libexec/xscreensaver/quillomir --root\n"
              in entry.read_text(), "no screen-saver entry that runs the installed saver")
        man = usr / "share" / "man" / "man6" / "quillomir.6"
        check(man.is_file(), "the man page is not in /usr/share/man/man6")
        settings_man = usr / "share" / "man" / "man1" / "quillomir-settings.1"
        if (usr / "bin" / "quillomir-settings").is_file():
            check(settings_man.is_file(), "quillomir-settings.1 is not in /usr/share/man/man1")
        if saver.is_file() and xml.is_file():
            check_option_file(xml, saver)
        for page in (man, settings_man):
            if not page.is_file():
                continue
            text = page.read_text()
            check(f"Quillomir {version}" in text, f"{page.name} does not carry the version")
            check(not re.search(r"@[A-Z_]+@", text), f"{page.name} has a placeholder left")
        if man.is_file():
            check("XSECURELOCK_SAVER=/usr/libexec/xscreensaver/quillomir " in man.read_text(),
                  "quillomir.6 does not name the installed saver for xsecurelock")
            groff = subprocess.run(["groff", "-man", "-ww", "-z", str(page)],
                                   capture_output=True, text=True)
            check(groff.returncode == 0 and not groff.stderr.strip(),
                  f"groff {page.name}: {groff.stderr.strip()}")
            for section in ("SYNOPSIS", "OPTIONS", "FILES", "EXIT STATUS"):
                check(f".SH {section}" in text, f"{page.name} has no {section}")
        check_gnome_extension(usr)
        if (usr / "bin" / "quillomir-settings").is_file():
            failures.extend(check_metainfo.check_tree(usr, version))
        failures.extend(check_metainfo.check_changelog_releases())
    finally:
        shutil.rmtree(stage, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
