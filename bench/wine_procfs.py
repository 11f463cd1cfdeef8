"""What /proc says about a process under Wine: its CPU ticks, every thread's
context switches and on-CPU time, its memory, and which processes belong to a
Wine prefix (by the WINEPREFIX in their environment)."""

import os
import time
from pathlib import Path

CLK_TCK = os.sysconf("SC_CLK_TCK")


def read_text(path):
    try:
        return Path(path).read_text(errors="replace")
    except OSError:
        return None


def read_bytes(path):
    try:
        return Path(path).read_bytes()
    except OSError:
        return None


def environ_of(pid):
    raw = read_bytes(f"/proc/{pid}/environ")
    if raw is None:
        return {}
    env = {}
    for item in raw.split(b"\0"):
        key, sep, value = item.partition(b"=")
        if sep:
            env[key.decode(errors="replace")] = value.decode(errors="replace")
    return env


def comm_of(pid):
    text = read_text(f"/proc/{pid}/comm")
    return text.strip() if text else None


def pids():
    return [int(d) for d in os.listdir("/proc") if d.isdigit()]


def processes_of_prefix(prefix):
    """Every live process whose environment names this Wine prefix: pid -> comm."""
    found = {}
    for pid in pids():
        if environ_of(pid).get("WINEPREFIX") == str(prefix):
            comm = comm_of(pid)
            if comm:
                found[pid] = comm
    return found


def stat_ticks(pid):
    """utime + stime of the whole process (all its threads), in clock ticks."""
    text = read_text(f"/proc/{pid}/stat")
    if text is None:
        return None
    fields = text[text.rindex(")") + 2 :].split()
    # fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    return int(fields[11]) + int(fields[12])


def task_sums(pid):
    """Context switches and on-CPU nanoseconds summed over all threads."""
    voluntary = involuntary = run_ns = 0
    threads = 0
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return None
    for tid in tids:
        status = read_text(f"/proc/{pid}/task/{tid}/status")
        if status is None:
            continue
        threads += 1
        for line in status.splitlines():
            if line.startswith("voluntary_ctxt_switches:"):
                voluntary += int(line.split()[1])
            elif line.startswith("nonvoluntary_ctxt_switches:"):
                involuntary += int(line.split()[1])
        sched = read_text(f"/proc/{pid}/task/{tid}/schedstat")
        if sched:
            run_ns += int(sched.split()[0])
    return {"voluntary": voluntary, "involuntary": involuntary, "run_ns": run_ns,
            "threads": threads}


def memory_kb(pid):
    status = read_text(f"/proc/{pid}/status")
    result = {}
    if status:
        for line in status.splitlines():
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS", "RssAnon", "RssFile", "RssShmem"):
                result[key] = int(rest.split()[0])
    return result


def reading(pid):
    ticks = stat_ticks(pid)
    tasks = task_sums(pid)
    if ticks is None or tasks is None:
        return None
    return {"ticks": ticks, **tasks, **memory_kb(pid), "time": time.monotonic()}
