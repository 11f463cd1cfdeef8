#!/usr/bin/env python3
"""Checks a built Quillomir.scr as a file: its PE kind, subsystem, imports,
version record, display name and manifest. Used for both builds, since the
32-bit one cannot run on the build machines."""

import struct
import subprocess
import sys

# DLLs that every Windows installation ships; anything else would have to be
# installed beside the saver, which a static build must never need.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll",
    "advapi32.dll", "msvcrt.dll", "ntdll.dll", "uxtheme.dll", "shcore.dll",
}
RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside every section")

    def resource(self, type_id, name_id):
        """The bytes of the first language of a resource, or None."""
        base = self.offset(self.rsrc_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield key, target

        def child(directory, wanted):
            for key, target in entries(directory):
                if wanted is None or key == wanted:
                    return target
            return None

        level = 0
        for wanted in (type_id, name_id, None):
            target = child(level, wanted)
            if target is None:
                return None
            level = target & 0x7FFFFFFF
        rva, size = struct.unpack_from("<II", self.data, base + level)
        start = self.offset(rva)
        return self.data[start:start + size]


def imports(path, objdump):
    out = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    return sorted({line.split(":", 1)[1].strip().lower()
                   for line in out.splitlines() if "DLL Name:" in line})


def string_table_entry(block, index):
    pos = 0
    for i in range(16):
        length = struct.unpack_from("<H", block, pos)[0]
        text = block[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
        if i == index:
            return text
        pos += 2 + 2 * length
    return None


def version_strings(record):
    """The fixed version and the StringFileInfo values of a version record."""
    sig = record.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls, pms, pls = struct.unpack_from("<IIII", record, sig + 8)
    fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    product = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
    text = record.decode("utf-16-le", errors="replace")
    return fixed, product, text


def check(path, arch, objdump, expected_version):
    failures = []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    pe = PeFile(open(path, "rb").read())
    want_machine, want_magic = {"x86": (0x14C, 0x10B), "x64": (0x8664, 0x20B)}[arch]
    expect(pe.machine == want_machine and pe.magic == want_magic,
           f"{'PE32, i386' if arch == 'x86' else 'PE32+, x86-64'} executable")
    expect(pe.subsystem == 2, "GUI subsystem")
    dlls = imports(path, objdump)
    foreign = [d for d in dlls if d not in SYSTEM_DLLS and not d.startswith("api-ms-win-")]
    expect(not foreign, f"imports only system DLLs ({', '.join(dlls)})")

    version = pe.resource(RT_VERSION, 1)
    expect(version is not None, "has a version record")
    if version:
        fixed, product, text = version_strings(version)
        want = tuple(int(x) for x in expected_version.split("."))
        expect(fixed == want and product == want, f"fixed version {fixed} is {want}")
        for key, value in (("ProductName", "Quillomir"), ("InternalName", "Quillomir"),
                           ("OriginalFilename", "Quillomir.scr"), ("FileVersion", "1.00.0008"),
                           ("ProductVersion", "1.00.0008")):
            found = text.split(f"{key}\0", 1)[1].lstrip("\0").split("\0", 1)[0] \
                if f"{key}\0" in text else None
            expect(found == value, f'{key} is "{value}" (found {found!r})')
        expect("040904B0" in text or "040904b0" in text, "string block 040904B0")
        expect(struct.pack("<HH", 0x0409, 1200) in version, "translation US English, 1200")

    strings = pe.resource(RT_STRING, 1)  # block 1 holds string ids 0..15
    expect(strings is not None and string_table_entry(strings, 1) == "Quillomir",
           'string 1 is "Quillomir"')

    manifest = pe.resource(RT_MANIFEST, 1)
    manifest = manifest.decode("utf-8", errors="replace") if manifest else ""
    expect("<dpiAwareness" in manifest and "PerMonitorV2" in manifest, "PerMonitorV2 manifest")
    expect("true/pm" in manifest, "dpiAware true/pm fallback")
    expect("Microsoft.Windows.Common-Controls" in manifest and 'version="6.0.0.0"' in manifest,
           "Common Controls 6")
    return failures


def main():
    if len(sys.argv) != 5:
        print("usage: check_executable.py FILE x86|x64 OBJDUMP VERSION", file=sys.stderr)
        return 2
    failures = check(*sys.argv[1:])
    print(f"{'all checks passed' if not failures else f'{len(failures)} checks failed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
