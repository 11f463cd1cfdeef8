"""The release that `make dist` wrote, checked as files: the zip's layout, times
and checksums, the executables in it, the installers and the payload they
carry, signing with a throwaway certificate, and a second build from another
copy of the source that must come out byte for byte the same."""

from __future__ import annotations

import datetime
import hashlib
import os
import shutil
import subprocess
import zipfile
from pathlib import Path

import pytest

from check_executable import RT_VERSION, PeFile, version_strings
from conftest import DIST, GNOME_UUID, ROOT, WINDOWS_PRODUCTS

MAKE_DIST = ROOT / "tools" / "make-dist"
ZIP_LAYOUT = ["x86/Quillomir.scr", "x64/Quillomir.scr", "README.txt", "LICENSE", "SHA256SUMS"]
I386, AMD64 = 0x14C, 0x8664


def commit_time() -> int:
    out = subprocess.run(["git", "-C", str(ROOT), "log", "-1", "--format=%ct"],
                         capture_output=True, text=True, check=True).stdout
    return int(out)


def parse_sums(text: str) -> dict[str, str]:
    sums = {}
    for line in text.splitlines():
        digest, name = line.split(" ", 1)
        sums[name.lstrip("*")] = digest
    return sums


def pe_identity(data: bytes) -> tuple[int, int, dict]:
    """Machine, optional-header magic and version-record strings of a PE file."""
    pe = PeFile(data)
    record = pe.resource(RT_VERSION, 1)
    assert record is not None, "no version record"
    fixed, _, text = version_strings(record)
    strings = {}
    for key in ("ProductName", "ProductVersion", "FileVersion", "OriginalFilename"):
        if f"{key}\0" in text:
            strings[key] = text.split(f"{key}\0", 1)[1].lstrip("\0").split("\0", 1)[0]
    return pe.machine, pe.magic, {"fixed": fixed, **strings}


def make_dist(*args: str, env: dict | None = None) -> subprocess.CompletedProcess:
    return subprocess.run(["/usr/bin/python3", str(MAKE_DIST), *args], capture_output=True,
                          text=True, env=env, timeout=1800)


# ---- the zip --------------------------------------------------------------------------

class TestZip:
    def test_layout_order_and_times(self, release):
        with zipfile.ZipFile(release["zip"]) as z:
            infos = z.infolist()
            assert [i.filename for i in infos] == ZIP_LAYOUT
            assert z.testzip() is None
        stamp = datetime.datetime.fromtimestamp(commit_time(), datetime.timezone.utc)
        want = (stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute,
                stamp.second - stamp.second % 2)
        for info in infos:
            assert info.date_time == want, f"{info.filename} is dated {info.date_time}"
            assert info.external_attr >> 16 == 0o100644
        # Another reader agrees that it is sound.
        assert subprocess.run(["unzip", "-tq", str(release["zip"])],
                              capture_output=True).returncode == 0

    def test_checksums_match_the_members(self, release):
        with zipfile.ZipFile(release["zip"]) as z:
            sums = parse_sums(z.read("SHA256SUMS").decode())
            assert sorted(sums) == sorted(ZIP_LAYOUT[:-1])
            for name, digest in sums.items():
                assert hashlib.sha256(z.read(name)).hexdigest() == digest, name

    def test_outer_checksums(self, release):
        r = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=DIST, capture_output=True,
                           text=True)
        assert r.returncode == 0, r.stdout + r.stderr
        assert sorted(parse_sums(release["sums"].read_text())) == sorted(
            p.relative_to(DIST).as_posix() for k, p in release.items() if k != "sums")

    def test_executables_are_the_builds_with_their_identity(self, release, version):
        want_fixed = tuple(int(x) for x in version.split("."))
        with zipfile.ZipFile(release["zip"]) as z:
            for arch, machine, magic in (("x86", I386, 0x10B), ("x64", AMD64, 0x20B)):
                data = z.read(f"{arch}/Quillomir.scr")
                got_machine, got_magic, record = pe_identity(data)
                assert (got_machine, got_magic) == (machine, magic), arch
                assert record["fixed"] == want_fixed
                assert record["OriginalFilename"] == "Quillomir.scr"
                build = ROOT / "build" / ("win32" if arch == "x86" else "win64")
                assert data == (build / "Quillomir.scr").read_bytes(), \
                    f"{arch}/Quillomir.scr is not the unsigned build"

    def test_readme_and_licence(self, release, version):
        with zipfile.ZipFile(release["zip"]) as z:
            readme = z.read("README.txt").decode()
            licence = z.read("LICENSE").decode()
        assert "\r\n" in readme and "\n" not in readme.replace("\r\n", "")
        assert f"Quillomir {version}" in readme
        assert "@VERSION@" not in readme and "@HOMEPAGE@" not in readme
        for topic in ("Installing", "Choosing and configuring", "Uninstalling",
                      "HKEY_CURRENT_USER\\Software\\Quillomir", "Windows 11", "Windows 10"):
            assert topic in readme, topic
        assert licence.startswith("MIT License")


# ---- the installers -------------------------------------------------------------------

class TestInstallers:
    @pytest.mark.parametrize("arch", ["x86", "x64"])
    def test_kind_and_version_record(self, release, version, identity, arch):
        machine, magic, record = pe_identity(release[arch].read_bytes())
        assert (machine, magic) == ((I386, 0x10B) if arch == "x86" else (AMD64, 0x20B))
        assert record["fixed"] == tuple(int(x) for x in version.split("."))
        assert record["ProductName"] == "Quillomir"
        assert record["ProductVersion"] == identity["file_version_text"]
        assert record["OriginalFilename"] == f"Quillomir-{version}-{arch}-setup.exe"

    @pytest.mark.parametrize("arch", ["x86", "x64"])
    def test_payload_is_the_zips_saver(self, release, tmp_path, arch):
        listing = subprocess.run(["7z", "l", "-slt", str(release[arch])], capture_output=True,
                                 text=True, check=True).stdout
        paths = [line.split(" = ", 1)[1] for line in listing.splitlines()
                 if line.startswith("Path = ") and not line.endswith(release[arch].name)]
        assert "$SYSDIR/Quillomir.scr" in paths
        assert "uninstall.exe" in paths
        subprocess.run(["7z", "x", "-y", f"-o{tmp_path}", str(release[arch]),
                        "$SYSDIR/Quillomir.scr"], capture_output=True, check=True)
        carried = (tmp_path / "$SYSDIR" / "Quillomir.scr").read_bytes()
        with zipfile.ZipFile(release["zip"]) as z:
            assert carried == z.read(f"{arch}/Quillomir.scr")


# ---- the GNOME Shell extension ---------------------------------------------------------

def test_gnome_extension_zip_is_the_packaged_extension(release, tmp_path):
    """What the extensions site gets is what the .deb installs, dated as the
    commit, with its schema compiled for a user's extension folder."""
    with zipfile.ZipFile(release["gnome-extension"]) as z:
        names = z.namelist()
        assert "metadata.json" in names and "schemas/gschemas.compiled" in names
        stamp = datetime.datetime.fromtimestamp(commit_time(), datetime.timezone.utc)
        assert {i.date_time[:5] for i in z.infolist()} == {
            (stamp.year, stamp.month, stamp.day, stamp.hour, stamp.minute)}
        z.extractall(tmp_path / "zip")
    subprocess.run(["dpkg-deb", "-x", str(release["quillomir"]), str(tmp_path / "deb")], check=True)
    installed = tmp_path / "deb" / "usr" / "share" / "gnome-shell" / "extensions" / GNOME_UUID
    modules = sorted(p.name for p in installed.iterdir())
    assert modules == sorted(n for n in names if "/" not in n)
    for name in modules:
        assert (tmp_path / "zip" / name).read_bytes() == (installed / name).read_bytes(), name
    again = subprocess.run([str(ROOT / "tools" / "make-gnome-extension"), "--out",
                            str(tmp_path / "again")], capture_output=True, text=True, check=True)
    assert Path(again.stdout.strip()).read_bytes() == release["gnome-extension"].read_bytes()


# ---- reproducibility ------------------------------------------------------------------

def copy_source(dest: Path) -> None:
    """The source tree as it is now, tracked and new files, without builds or .git."""
    names = subprocess.run(["git", "-C", str(ROOT), "ls-files", "-z", "-co", "--exclude-standard"],
                           capture_output=True, check=True).stdout.split(b"\0")
    for name in filter(None, names):
        src = ROOT / name.decode()
        if src.is_file():
            target = dest / name.decode()
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(src, target)


def test_second_build_elsewhere_is_byte_identical(release, tmp_path):
    """A fresh build in another folder, at another time: same executables, same
    zip, same installers. The commit's time comes in through SOURCE_DATE_EPOCH
    because the copy has no git history."""
    source = tmp_path / "elsewhere" / "quillomir"
    copy_source(source)
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(commit_time()))
    for var in ("QUILLOMIR_SIGN_CERT", "QUILLOMIR_SIGN_KEY"):
        env.pop(var, None)
    r = make_dist("--source", str(source), env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    for preset in ("win32", "win64"):
        assert (source / "build" / preset / "Quillomir.scr").read_bytes() == \
            (ROOT / "build" / preset / "Quillomir.scr").read_bytes(), f"{preset} executable differs"
    # The Windows half of the release; the packages of the commit are checked
    # in test_packages.py.
    for product in (release[kind] for kind in WINDOWS_PRODUCTS):
        again = source / "build" / "dist" / product.name
        assert again.read_bytes() == product.read_bytes(), f"{product.name} differs"


@pytest.mark.parametrize("change", ["edit", "new file"])
def test_release_refuses_a_work_tree_that_differs_from_head(tmp_path, change):
    """The tarball and the packages come from HEAD, the Windows files from the
    work tree: a changed or new file stops the release before it builds."""
    clone = tmp_path / "clone"
    subprocess.run(["git", "clone", "-q", "--no-hardlinks", str(ROOT), str(clone)], check=True)
    if change == "edit":
        (clone / "README.md").write_text("changed\n")
    else:
        (clone / "src" / "stray.cpp").write_text("int stray;\n")
    out = tmp_path / "out"
    r = subprocess.run(["/usr/bin/python3", str(clone / "tools" / "make-release"), "--out",
                        str(out)], capture_output=True, text=True, timeout=120)
    assert r.returncode != 0
    assert ("README.md" if change == "edit" else "src/stray.cpp") in r.stderr
    assert not out.exists() and not (clone / "build").exists()


# ---- signing --------------------------------------------------------------------------

@pytest.fixture(scope="module")
def throwaway_certificate(tmp_path_factory) -> tuple[Path, Path]:
    d = tmp_path_factory.mktemp("cert")
    cert, key = d / "cert.pem", d / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Quillomir test signing", "-addext",
                    "extendedKeyUsage=codeSigning", "-keyout", str(key), "-out", str(cert)],
                   capture_output=True, check=True)
    return cert, key


def verify(path: Path, cert: Path) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(path)],
                          capture_output=True, text=True)


def test_signed_release_verifies(throwaway_certificate, tmp_path, version):
    cert, key = throwaway_certificate
    out = tmp_path / "signed"
    env = dict(os.environ, QUILLOMIR_SIGN_CERT=str(cert), QUILLOMIR_SIGN_KEY=str(key))
    env.pop("QUILLOMIR_SIGN_TIMESTAMP_URL", None)
    r = make_dist("--out", str(out), env=env)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "signing with" in r.stdout and "NOT signed" not in r.stdout

    with zipfile.ZipFile(out / f"Quillomir-{version}-windows.zip") as z:
        z.extractall(tmp_path / "unpacked")
        sums = parse_sums(z.read("SHA256SUMS").decode())
    signed = [tmp_path / "unpacked" / "x86" / "Quillomir.scr",
              tmp_path / "unpacked" / "x64" / "Quillomir.scr",
              out / f"Quillomir-{version}-x86-setup.exe",
              out / f"Quillomir-{version}-x64-setup.exe"]
    for path in signed:
        result = verify(path, cert)
        assert result.returncode == 0, f"{path.name}: {result.stdout}{result.stderr}"
        assert "Quillomir test signing" in result.stdout
    # The sums describe the signed files, not the unsigned ones.
    assert sums["x86/Quillomir.scr"] == hashlib.sha256(signed[0].read_bytes()).hexdigest()
    # The installer carries the signed saver.
    subprocess.run(["7z", "x", "-y", f"-o{tmp_path / 'payload'}", str(signed[2]),
                    "$SYSDIR/Quillomir.scr"], capture_output=True, check=True)
    assert verify(tmp_path / "payload" / "$SYSDIR" / "Quillomir.scr", cert).returncode == 0


def test_unsigned_release_says_so_and_does_not_verify(release, tmp_path):
    r = make_dist("--out", str(tmp_path / "u"), "--no-installers",
                  env={k: v for k, v in os.environ.items() if not k.startswith("QUILLOMIR_SIGN")})
    assert r.returncode == 0, r.stderr
    assert "NOT signed" in r.stdout
    assert verify(ROOT / "build" / "win64" / "Quillomir.scr", ROOT / "LICENSE").returncode != 0


@pytest.mark.parametrize("only", ["QUILLOMIR_SIGN_CERT", "QUILLOMIR_SIGN_KEY"])
def test_half_a_signing_setup_fails_and_writes_nothing(throwaway_certificate, tmp_path, only):
    cert, key = throwaway_certificate
    env = {k: v for k, v in os.environ.items() if not k.startswith("QUILLOMIR_SIGN")}
    env[only] = str(cert if only.endswith("CERT") else key)
    out = tmp_path / "half"
    r = make_dist("--out", str(out), env=env)
    assert r.returncode != 0
    assert "QUILLOMIR_SIGN_CERT and QUILLOMIR_SIGN_KEY" in r.stderr
    assert not out.exists() or not any(out.iterdir())


@pytest.mark.parametrize("given, signs", [("s3cret pass", True), ("wrong", False)])
def test_key_password_is_never_on_a_command_line(tmp_path, given, signs):
    """An encrypted key's password reaches osslsigncode, whose command line
    every user can read in the process list, only through its input."""
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-days", "2",
                    "-passout", "pass:s3cret pass", "-subj", "/CN=Quillomir test signing",
                    "-keyout", str(key), "-out", str(cert)], capture_output=True, check=True)
    # osslsigncode as seen in the process list: its arguments, then the real one.
    calls, bin_dir = tmp_path / "calls", tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "osslsigncode").write_text(
        f'#!/bin/sh\nprintf "%s\\n" "$*" >>"{calls}"\nexec /usr/bin/osslsigncode "$@"\n')
    (bin_dir / "osslsigncode").chmod(0o755)
    target = tmp_path / "Quillomir.scr"
    shutil.copyfile(ROOT / "build" / "win64" / "Quillomir.scr", target)
    env = dict(os.environ, QUILLOMIR_SIGN_CERT=str(cert), QUILLOMIR_SIGN_KEY=str(key),
               QUILLOMIR_SIGN_PASS=given, PATH=f"{bin_dir}:{os.environ['PATH']}")
    env.pop("QUILLOMIR_SIGN_TIMESTAMP_URL", None)
    r = make_dist("--sign-one", str(target), env=env)
    assert (r.returncode == 0) == signs, r.stdout + r.stderr
    assert (verify(target, cert).returncode == 0) == signs
    [call] = calls.read_text().splitlines()
    assert given not in call and "-readpass" in call
    assert sorted(p.name for p in tmp_path.iterdir()) == ["Quillomir.scr", "bin", "calls",
                                                          "cert.pem", "key.pem"]
