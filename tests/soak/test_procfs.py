"""What /proc says of a process's shared memory, read on this very process."""

from __future__ import annotations

import mmap
import os
import sys
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools" / "soak"))

import procfs  # noqa: E402


def test_a_mapped_memory_file_counts_its_size_and_the_pages_drawn_on():
    before = procfs.shared_memory(os.getpid())
    fd = os.memfd_create("soak-test")
    try:
        os.ftruncate(fd, 256 * 1024)
        with mmap.mmap(fd, 256 * 1024) as pool:
            for page in range(0, 64 * 1024, 4096):
                pool[page] = 1
            during = procfs.shared_memory(os.getpid())
            figures = procfs.figures(os.getpid())
    finally:
        os.close(fd)
    assert during["shm_kib"] - before["shm_kib"] == 256
    assert 64 <= during["rss_shmem"] - before["rss_shmem"] < 256
    assert figures["shm_maps"] >= 1 and figures["shm_fds"] >= 1


def _main_thread_ns() -> int:
    return int(Path(f"/proc/{os.getpid()}/schedstat").read_text().split()[0])


def test_cpu_time_sums_every_thread_not_only_the_main_one():
    spun, release = threading.Event(), threading.Event()

    def spin():
        end = time.thread_time() + 0.3
        while time.thread_time() < end:
            pass
        spun.set()
        release.wait(60)  # a thread that has ended is no longer listed

    main_before, total_before = _main_thread_ns(), procfs.cpu_ns(os.getpid())
    worker = threading.Thread(target=spin)
    worker.start()
    try:
        assert spun.wait(60)
        total, main = procfs.cpu_ns(os.getpid()), _main_thread_ns()
    finally:
        release.set()
        worker.join()
    assert total - total_before >= 300_000_000 > main - main_before
