"""The release's packages from the commit: the Debian packages (version, lintian,
contents, dependencies, a second build elsewhere), the source tarball, and the
winget manifests against winget's schema rules and the built installers."""

from __future__ import annotations

import hashlib
import json
import os
import re
import subprocess
import tarfile
import zipfile
from pathlib import Path

import jsonschema
import pytest
import yaml

from conftest import DEB_PACKAGES, DIST, ROOT, WIN64, WINGET_MANIFESTS
from winget_rules import SCHEMAS

TOOLS = ROOT / "tools"


def dpkg_field(deb: Path, field: str) -> str:
    return subprocess.run(["dpkg-deb", "-f", str(deb), field], capture_output=True, text=True,
                          check=True).stdout.strip()


def commit_time() -> int:
    return int(subprocess.run(["git", "-C", str(ROOT), "log", "-1", "--format=%ct"],
                              capture_output=True, text=True, check=True).stdout)


# ---- Debian ---------------------------------------------------------------------------

def test_changelog_version_is_project_version_and_a_revision(version, deb_version):
    upstream, _, revision = deb_version.rpartition("-")
    assert upstream == version and revision.isdigit()


def test_lintian_pedantic_finds_nothing_on_source_and_binaries(release):
    """Every tag, to the pedantic ones, on the .changes, which names the source
    package and the binaries; an override is allowed only with a reason."""
    r = subprocess.run(["lintian", "--allow-root", "--pedantic", "--info", "--fail-on",
                        "error,warning,info,pedantic", str(release["changes"])],
                       capture_output=True, text=True, timeout=900)
    assert r.returncode == 0, r.stdout + r.stderr
    changes = release["changes"].read_text()
    assert re.search(r"^Architecture: source \S+", changes, re.M), changes
    for name in ("dsc", "debian-tarball", "orig", "quillomir", "quillomir-settings"):
        assert f" {release[name].name}\n" in changes, name
    overrides = [*(ROOT / "debian").glob("*lintian-overrides"),
                 *(ROOT / "debian" / "source").glob("lintian-overrides")]
    for path in overrides:
        lines = path.read_text().splitlines()
        for i, line in enumerate(lines):
            if line.strip() and not line.startswith("#"):
                assert i > 0 and lines[i - 1].startswith("#"), f"{path.name}: {line}"


def test_source_package_is_quilt_over_the_release_tarball(release, tmp_path):
    assert release["orig"].read_bytes() == release["tarball"].read_bytes()
    dsc = release["dsc"].read_text()
    assert re.search(r"^Format: 3\.0 \(quilt\)$", dsc, re.M), dsc
    assert re.search(r"^Build-Depends: .*\bcmake \(>= 3\.25\)", dsc, re.M), dsc
    r = subprocess.run(["dpkg-source", "--no-check", "-x", str(release["dsc"]),
                        str(tmp_path / "src")], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    for name in ("watch", "upstream/metadata", "tests/control", "source/format"):
        assert (tmp_path / "src" / "debian" / name).is_file(), name


def test_settings_package_holds_its_files_and_the_saver_no_toolkit(release, deb_version):
    listing = subprocess.run(["dpkg-deb", "-c", str(release["quillomir-settings"])],
                             capture_output=True, text=True, check=True).stdout
    files = {line.split()[-1].lstrip(".") for line in listing.splitlines()
             if not line.startswith("d")}
    assert files == {"/usr/bin/quillomir-settings",
                     "/usr/share/applications/quillomir-settings.desktop",
                     "/usr/share/man/man1/quillomir-settings.1.gz",
                     "/usr/share/metainfo/org.example.quillomir.metainfo.xml",
                     "/usr/share/icons/hicolor/scalable/apps/org.example.quillomir.svg",
                     "/usr/share/doc/quillomir-settings/changelog.Debian.gz",
                     "/usr/share/doc/quillomir-settings/copyright",
                     "/usr/share/lintian/overrides/quillomir-settings"}
    settings_depends = dpkg_field(release["quillomir-settings"], "Depends")
    assert f"quillomir (= {deb_version})" in settings_depends and "libgtk-3-0" in settings_depends
    saver_depends = dpkg_field(release["quillomir"], "Depends")
    assert "libx11-6" in saver_depends and "gtk" not in saver_depends
    # The packaged saver uses the distribution's C++ runtime, not a copy of its own.
    assert "libstdc++6" in saver_depends
    assert dpkg_field(release["quillomir"], "Recommends") == "quillomir-settings"


def test_second_deb_build_elsewhere_is_byte_identical(release, tmp_path):
    """Another work folder (a longer path, so nothing can line up by chance) and
    another build folder in the Debian root, another time, and without the tests
    (nocheck): the same source and binary packages, byte for byte, and no trace
    of the work folder in any file of them."""
    elsewhere = tmp_path / "another" / "build" / "folder"
    elsewhere.mkdir(parents=True)
    out = tmp_path / "out"
    env = dict(os.environ, TMPDIR=str(elsewhere), DEB_BUILD_OPTIONS="nocheck")
    r = subprocess.run([str(TOOLS / "make-deb"), "--out", str(out)], capture_output=True,
                       text=True, env=env, timeout=1800)
    assert r.returncode == 0, r.stdout + r.stderr
    for name in ("dsc", "debian-tarball"):
        again = out / release[name].name
        assert again.read_bytes() == release[name].read_bytes(), f"{again.name} differs"
    for package in DEB_PACKAGES:
        again = out / release[package].name
        assert again.read_bytes() == release[package].read_bytes(), f"{again.name} differs"
        unpacked = tmp_path / "unpacked" / package
        unpacked.mkdir(parents=True)
        subprocess.run(["dpkg-deb", "-x", str(again), str(unpacked)], check=True)
        for path in unpacked.rglob("*"):
            if path.is_file() and not path.is_symlink():
                assert str(elsewhere).encode() not in path.read_bytes(), \
                    f"{path.relative_to(unpacked)} holds the build folder"


# ---- the source tarball ---------------------------------------------------------------

def test_tarball_is_the_commit_and_reproducible(release, version, tmp_path):
    tarball = release["tarball"]
    header = tarball.read_bytes()[:10]
    assert header[3] & 0x08 == 0, "the gzip header names a file"
    assert header[4:8] == b"\0\0\0\0", "the gzip header carries a time"
    committed = subprocess.run(["git", "-C", str(ROOT), "ls-tree", "-r", "--name-only", "HEAD"],
                               capture_output=True, text=True, check=True).stdout.split("\n")
    with tarfile.open(tarball) as archive:
        members = archive.getmembers()
        files = {m.name for m in members if m.isfile() or m.issym()}
        assert files == {f"quillomir-{version}/{name}" for name in committed if name}
        assert {m.mtime for m in members} == {commit_time()}
        cmake = archive.extractfile(f"quillomir-{version}/CMakeLists.txt").read().decode()
    assert re.search(rf"project\(Quillomir VERSION {re.escape(version)}\b", cmake)
    r = subprocess.run([str(TOOLS / "make-tarball"), "--out", str(tmp_path)],
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    assert (tmp_path / tarball.name).read_bytes() == tarball.read_bytes()


# ---- winget ---------------------------------------------------------------------------

@pytest.fixture(scope="module")
def manifests(release) -> dict:
    return {kind: yaml.safe_load(release[kind].read_text(encoding="utf-8"))
            for kind in WINGET_MANIFESTS}


@pytest.fixture(scope="module")
def written_manifests(tmp_path_factory) -> dict:
    """The manifests make-winget writes for stand-in installers: the schema
    check needs the build's identity, not a whole release."""
    out = tmp_path_factory.mktemp("winget")
    identity = WIN64 / "generated" / "quillomir_release.json"
    version = json.loads(identity.read_text())["version"]
    for arch in ("x86", "x64"):
        (out / f"Quillomir-{version}-{arch}-setup.exe").write_bytes(arch.encode())
    subprocess.run([str(TOOLS / "make-winget"), "--identity", str(identity), "--out", str(out)],
                   check=True, capture_output=True)
    return {kind: yaml.safe_load((out / "winget" / name).read_text(encoding="utf-8"))
            for kind, name in WINGET_MANIFESTS.items()}


def schema_errors(kind: str, manifest: dict) -> list[str]:
    validator = jsonschema.Draft7Validator(SCHEMAS[kind])
    return [f"{'/'.join(map(str, e.absolute_path))}: {e.message}"
            for e in validator.iter_errors(manifest)]


@pytest.mark.parametrize("kind", sorted(WINGET_MANIFESTS))
def test_winget_manifests_follow_the_schema(written_manifests, kind):
    assert schema_errors(kind, written_manifests[kind]) == []
    assert written_manifests[kind]["ManifestVersion"] == "1.12.0"


def test_winget_manifests_say_what_the_installers_exit_with_and_where_to_read_more(
        written_manifests):
    installer = written_manifests["winget-installer"]
    assert (installer["InstallerType"], installer["Scope"]) == ("nullsoft", "machine")
    assert installer["InstallerSwitches"]["Silent"] == "/S"
    codes = {c["InstallerReturnCode"]: c["ReturnResponse"]
             for c in written_manifests["winget-installer"]["ExpectedReturnCodes"]}
    assert codes == {3010: "rebootRequiredToFinish", 1618: "installInProgress",
                     1: "cancelledByUser"}
    locale = written_manifests["winget-locale"]
    for key in ("License", "LicenseUrl", "PublisherSupportUrl", "Description",
                "ReleaseNotesUrl"):
        assert locale.get(key), f"the locale manifest has no {key}"
    assert locale["Description"].startswith("Quillomir is a screen saver for Windows")


# The rules bite: each of these edits of a good manifest is refused.
@pytest.mark.parametrize("kind, edit", [
    ("winget-installer", lambda m: m.update(Unknown=1)),
    ("winget-installer", lambda m: m["Installers"][0].update(Architecture="amd64")),
    ("winget-installer", lambda m: m["Installers"][0].update(InstallerSha256="ab")),
    ("winget-installer", lambda m: m["ExpectedReturnCodes"].append(
        {"InstallerReturnCode": 0, "ReturnResponse": "custom"})),
    ("winget-locale", lambda m: m.update(LicenseUrl="ftp://example.org/")),
    ("winget-locale", lambda m: m.pop("License")),
    ("winget-version", lambda m: m.update(PackageIdentifier="Quillomir")),
], ids=["unknown key", "architecture", "sha256", "success code", "url", "required",
        "identifier"])
def test_winget_rules_refuse_a_broken_manifest(written_manifests, kind, edit):
    manifest = yaml.safe_load(yaml.safe_dump(written_manifests[kind]))
    edit(manifest)
    assert schema_errors(kind, manifest)


def test_winget_installers_are_the_built_files(manifests, release, identity, version):
    entries = {e["Architecture"]: e for e in manifests["winget-installer"]["Installers"]}
    assert sorted(entries) == ["x64", "x86"]
    for arch, bits in (("x86", "32-bit"), ("x64", "64-bit")):
        entry = entries[arch]
        assert entry["InstallerSha256"].lower() == \
            hashlib.sha256(release[arch].read_bytes()).hexdigest()
        assert entry["InstallerUrl"] == identity["download_url"] + release[arch].name
        assert entry["AppsAndFeaturesEntries"] == [{
            "DisplayName": f"Quillomir ({bits})", "Publisher": "The Quillomir developers",
            "DisplayVersion": version, "ProductCode": "Quillomir"}]


def test_winget_refuses_a_download_address_that_is_not_http(identity, release, tmp_path):
    bad = tmp_path / "identity.json"
    bad.write_text(json.dumps({**identity, "download_url": "ftp://example.org/"}))
    r = subprocess.run([str(TOOLS / "make-winget"), "--identity", str(bad), "--installers",
                        str(DIST), "--out", str(tmp_path)], capture_output=True, text=True)
    assert r.returncode == 1 and "QUILLOMIR_DOWNLOAD_URL" in r.stderr
    assert not (tmp_path / "winget").exists()


# ---- pictures -------------------------------------------------------------------------

def test_pictures_are_small_and_shown(release):
    pictures = sorted((ROOT / "docs" / "images").glob("*.png"))
    assert {p.name for p in pictures} == {"saver.png", "settings.png", "about.png",
                                          "linux-settings.png", "linux-saver.png",
                                          "wayland-saver.png"}
    readme = (ROOT / "README.md").read_text()
    # The README opens with the saver.
    assert readme.split("\n")[2].startswith("![") and "(docs/images/saver.png)" in readme
    with zipfile.ZipFile(release["zip"]) as z:
        readme_txt = z.read("README.txt").decode()
    for picture in pictures:
        assert picture.stat().st_size <= 60 * 1024, picture.name
        assert picture.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n", picture.name
        assert f"](docs/images/{picture.name})" in readme, picture.name
        assert picture.name in readme_txt, picture.name
