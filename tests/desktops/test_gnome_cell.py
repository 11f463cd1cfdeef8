"""The GNOME cell's set-up as the runner writes it: the files come out as
meant once the runner fills in its placeholders, and the settings they give
the Shell name the extension and the key that the source really has."""

from __future__ import annotations

import configparser
import json
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

sys.dont_write_bytecode = True
ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools" / "desktops"))

import gnome_cell  # noqa: E402

EXTENSION = ROOT / "src" / "platform" / "gnome-shell"


def written(name: str) -> str:
    return gnome_cell.FILES[name].format(run="/run/user/65534", home="/home/matrix")


@pytest.mark.parametrize("name, raw", [
    ("session-manager.js", gnome_cell.SESSION_MANAGER),
    ("png-to-ppm.py", gnome_cell.PNG_TO_PPM),
    (f"{gnome_cell.EXTENSIONS}/{gnome_cell.UNSAFE_UUID}/extension.js", gnome_cell.UNSAFE_EXTENSION),
])
def test_code_survives_the_runners_placeholders(name, raw):
    assert written(name) == raw


def test_keyfile_enables_the_real_extension_with_a_wait_of_its_schema():
    meta = json.loads((EXTENSION / "metadata.json").read_text())
    keyfile = configparser.ConfigParser()
    keyfile.read_string(written(".config/glib-2.0/settings/keyfile"))
    enabled = keyfile["org/gnome/shell"]["enabled-extensions"]
    assert f"'{meta['uuid']}'" in enabled and f"'{gnome_cell.UNSAFE_UUID}'" in enabled
    schema = ET.parse(EXTENSION / f"{meta['settings-schema']}.gschema.xml").find("schema")
    path = schema.get("path").strip("/")
    keys = {k.get("name"): k for k in schema.findall("key")}
    for key, value in keyfile[path].items():
        assert key in keys, key
        low, high = (int(keys[key].find("range").get(b)) for b in ("min", "max"))
        assert low <= int(value) <= high
    unsafe = json.loads(written(f"{gnome_cell.EXTENSIONS}/{gnome_cell.UNSAFE_UUID}/metadata.json"))
    assert unsafe["uuid"] == gnome_cell.UNSAFE_UUID
    assert set(meta["shell-version"]) <= set(unsafe["shell-version"])
