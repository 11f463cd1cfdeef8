"""What Linux says about a process: its resident memory, descriptors, threads
and shared-memory mappings, and which processes carry a given environment
variable (how the soak finds every process that it, or Wine for it, started)."""

from __future__ import annotations

import os
from pathlib import Path


def _read(path: str) -> str | None:
    try:
        return Path(path).read_text(errors="replace")
    except OSError:
        return None


def alive(pid: int) -> bool:
    status = _read(f"/proc/{pid}/status")
    return status is not None and "State:\tZ" not in status


def figures(pid: int) -> dict[str, int] | None:
    """rss and rss_anon (KiB), fds, threads; shm_maps and shm_fds: the
    mappings of shared-memory files (memfd, /dev/shm, SysV) and the descriptors
    open on them, which is where a Wayland client's wl_shm pools and Wine's
    window surfaces live. None once the process is gone."""
    status = _read(f"/proc/{pid}/status")
    maps = _read(f"/proc/{pid}/maps")
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return None
    if status is None or maps is None:
        return None
    values = {}
    for line in status.splitlines():
        key, _, rest = line.partition(":")
        values[key] = rest.split()
    return {
        "rss": int(values["VmRSS"][0]),
        "rss_anon": int(values["RssAnon"][0]),
        "fds": len(fds),
        "threads": int(values["Threads"][0]),
        "shm_maps": sum(1 for line in maps.splitlines()
                        if _is_shared_memory(line.split(None, 5)[5:])),
        "shm_fds": sum(1 for fd in fds if _is_shared_memory([_link(pid, fd)])),
        "cpu_ns": cpu_ns(pid),
    }


def cpu_ns(pid: int) -> int:
    """The nanoseconds every thread of the process has spent on a CPU, summed:
    /proc/PID/schedstat is the main thread's alone, and the saver reads its
    load and its settings on threads of their own."""
    total = 0
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return 0
    for tid in tasks:
        stat = _read(f"/proc/{pid}/task/{tid}/schedstat")
        if stat:
            total += int(stat.split()[0])
    return total


def shared_memory(pid: int) -> dict[str, int] | None:
    """rss_shmem: the resident pages of its shared memory (KiB), which for a
    Wayland client are the pages drawn on in its buffers, so they follow the
    picture; shm_kib: the size of all its shared-memory mappings, which a
    pool made and never unmapped raises. None once the process is gone."""
    status = _read(f"/proc/{pid}/status")
    maps = _read(f"/proc/{pid}/maps")
    if status is None or maps is None:
        return None
    resident = [line.split()[1] for line in status.splitlines() if line.startswith("RssShmem:")]
    size = 0
    for line in maps.splitlines():
        fields = line.split(None, 5)
        if _is_shared_memory(fields[5:]):
            start, end = (int(part, 16) for part in fields[0].split("-"))
            size += (end - start) // 1024
    return {"rss_shmem": int(resident[0]) if resident else 0, "shm_kib": size}


def _link(pid: int, fd: str) -> str:
    try:
        return os.readlink(f"/proc/{pid}/fd/{fd}")
    except OSError:
        return ""


def _is_shared_memory(names: list[str]) -> bool:
    return bool(names) and names[0].startswith(("/memfd:", "/dev/shm/", "/SYSV"))


def processes_with(variable: str, value: str) -> dict[int, str]:
    """Every live process whose environment has variable=value: pid -> comm."""
    wanted = f"{variable}={value}".encode()
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            environ = Path(f"/proc/{entry}/environ").read_bytes()
        except OSError:
            continue
        if wanted in environ.split(b"\0") and alive(int(entry)):
            comm = _read(f"/proc/{entry}/comm")
            if comm:
                found[int(entry)] = comm.strip()
    return found
