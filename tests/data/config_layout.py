"""Reads config_layout.tsv, the one copy of the dialogs' layout numbers that
the Windows and Linux end-to-end tests compare the windows on screen with."""

from __future__ import annotations

from pathlib import Path

LAYOUT_FILE = Path(__file__).resolve().parent / "config_layout.tsv"


def read_layout(path: Path = LAYOUT_FILE) -> dict[str, dict]:
    """For each window caption its client size and its controls as (name, kind,
    caption, rectangle in twips in the window's client area, tab), with frame
    contents moved by their frame's corner."""
    windows: dict[str, dict] = {}
    current = None
    for line in path.read_text().splitlines():
        if not line or line.startswith("#"):
            continue
        f = line.split("\t")
        if f[0] == "window":
            current = windows[f[1]] = {"client": (int(f[2]), int(f[3])), "controls": []}
            continue
        rect = [int(v) for v in f[3:7]]
        if f[8] != "-":
            frame = next(c for c in current["controls"] if c[0] == f[8])
            rect[0] += frame[3][0]
            rect[1] += frame[3][1]
        current["controls"].append((f[0], f[1], f[2], tuple(rect), int(f[7])))
    return windows
