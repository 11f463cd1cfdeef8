"""What an X server holds for each of its clients, through the X-Resource
extension (libXRes, called with ctypes): resources by kind (windows, pixmaps,
GCs, fonts, cursors, and whatever else the server counts, such as XFixes
regions), the bytes of the client's pixmaps, and the process behind each client.

One `XServerView` is one connection of ours, kept open for a whole soak so that
our own client stays the same one; it is used by one thread at a time, and it
is closed before its server is stopped (Xlib ends a process whose connection
breaks).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import threading
import time
from dataclasses import dataclass, field

XID = ctypes.c_ulong
# The kinds the report always shows, by the names the server gives them, and
# the names they go by in the report.
KINDS = {"WINDOW": "windows", "PIXMAP": "pixmaps", "GC": "gcs", "FONT": "fonts",
         "CURSOR": "cursors"}
_PID_MASK = 1 << 1  # XRES_CLIENT_ID_PID_MASK


class _Client(ctypes.Structure):
    _fields_ = [("resource_base", XID), ("resource_mask", XID)]


class _Type(ctypes.Structure):
    _fields_ = [("resource_type", ctypes.c_ulong), ("count", ctypes.c_uint)]


class _ClientIdQuery(ctypes.Structure):
    _fields_ = [("client", XID), ("mask", ctypes.c_uint)]


class _IdValue(ctypes.Structure):
    _fields_ = [("query", _ClientIdQuery), ("length", ctypes.c_long), ("value", ctypes.c_void_p)]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_libs = None
_libs_lock = threading.Lock()


def _ignore_error(display, event):
    # A client that leaves between two of our requests makes the second one
    # fail; Xlib's default handler would end this process for that.
    return 0


_keep_handler = _ERROR_HANDLER(_ignore_error)


def _load():
    global _libs
    with _libs_lock:
        if _libs is None:
            x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
            xres = ctypes.CDLL(ctypes.util.find_library("XRes") or "libXRes.so.1")
            # Several threads each talk to their own server.
            x11.XInitThreads()
            x11.XOpenDisplay.restype = ctypes.c_void_p
            x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
            x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
            x11.XFree.argtypes = [ctypes.c_void_p]
            x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            x11.XDefaultRootWindow.restype = ctypes.c_ulong
            x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            x11.XCreateSimpleWindow.restype = ctypes.c_ulong
            x11.XCreateSimpleWindow.argtypes = [
                ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
            x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x11.XMapRaised.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x11.XUnmapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x11.XGetAtomName.restype = ctypes.c_void_p
            x11.XGetAtomName.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            x11.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
            x11.XSetErrorHandler(_keep_handler)
            i = ctypes.POINTER(ctypes.c_int)
            xres.XResQueryExtension.argtypes = [ctypes.c_void_p, i, i]
            xres.XResQueryVersion.argtypes = [ctypes.c_void_p, i, i]
            xres.XResQueryClients.argtypes = [ctypes.c_void_p, i,
                                              ctypes.POINTER(ctypes.POINTER(_Client))]
            xres.XResQueryClientResources.argtypes = [ctypes.c_void_p, XID, i,
                                                      ctypes.POINTER(ctypes.POINTER(_Type))]
            xres.XResQueryClientPixmapBytes.argtypes = [ctypes.c_void_p, XID,
                                                        ctypes.POINTER(ctypes.c_ulong)]
            xres.XResQueryClientIds.argtypes = [
                ctypes.c_void_p, ctypes.c_long, ctypes.POINTER(_ClientIdQuery),
                ctypes.POINTER(ctypes.c_long), ctypes.POINTER(ctypes.POINTER(_IdValue))]
            xres.XResGetClientPid.argtypes = [ctypes.POINTER(_IdValue)]
            xres.XResGetClientPid.restype = ctypes.c_int
            xres.XResClientIdsDestroy.argtypes = [ctypes.c_long, ctypes.POINTER(_IdValue)]
            _libs = (x11, xres)
    return _libs


@dataclass
class ClientResources:
    """One client: its resource counts by the server's names, and pixmap bytes."""
    base: int
    pid: int | None
    counts: dict[str, int] = field(default_factory=dict)
    pixmap_bytes: int = 0

    def figures(self) -> dict[str, int]:
        """The report's names: windows, pixmaps, gcs, fonts, cursors (0 when
        absent), any other kind the server counted, and bytes."""
        out = {name: self.counts.get(kind, 0) for kind, name in KINDS.items()}
        for kind, count in self.counts.items():
            if kind not in KINDS:
                out[kind.lower()] = count
        out["bytes"] = self.pixmap_bytes
        return out


class XServerView:
    def __init__(self, display: str):
        self._x11, self._xres = _load()
        self._dpy = self._x11.XOpenDisplay(display.encode())
        if not self._dpy:
            raise RuntimeError(f"cannot open the X display {display}")
        event, error = ctypes.c_int(), ctypes.c_int()
        major, minor = ctypes.c_int(), ctypes.c_int()
        if (not self._xres.XResQueryExtension(self._dpy, ctypes.byref(event), ctypes.byref(error))
                or not self._xres.XResQueryVersion(self._dpy, ctypes.byref(major),
                                                   ctypes.byref(minor))):
            self.close()
            raise RuntimeError(f"the X server {display} has no X-Resource extension")
        self.version = (major.value, minor.value)
        self._atoms: dict[int, str] = {}

    def close(self) -> None:
        if self._dpy:
            self._x11.XCloseDisplay(self._dpy)
            self._dpy = None

    def __enter__(self) -> "XServerView":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def make_window(self, width: int, height: int, mapped: bool = True) -> int:
        """A plain window of ours at the top-left corner: for a saver to draw in,
        as in a screen saver's or locker's window, or to pass over one."""
        root = self._x11.XDefaultRootWindow(self._dpy)
        window = self._x11.XCreateSimpleWindow(self._dpy, root, 0, 0, width, height, 0, 0, 0)
        if mapped:
            self._x11.XMapWindow(self._dpy, window)
        self._x11.XSync(self._dpy, 0)
        return window

    def pass_over(self, window: int, seconds: float = 0.2) -> None:
        """Shows the window on top for a moment and takes it away again, as a
        notification does: what it covered is exposed and must be repainted."""
        self._x11.XMapRaised(self._dpy, window)
        self._x11.XSync(self._dpy, 0)
        time.sleep(seconds)
        self._x11.XUnmapWindow(self._dpy, window)
        self._x11.XSync(self._dpy, 0)

    def _atom_name(self, atom: int) -> str:
        if atom not in self._atoms:
            raw = self._x11.XGetAtomName(self._dpy, atom)
            self._atoms[atom] = ctypes.string_at(raw).decode() if raw else f"ATOM{atom}"
            if raw:
                self._x11.XFree(raw)
        return self._atoms[atom]

    def client_bases(self) -> list[int]:
        count = ctypes.c_int()
        clients = ctypes.POINTER(_Client)()
        if not self._xres.XResQueryClients(self._dpy, ctypes.byref(count), ctypes.byref(clients)):
            raise RuntimeError("XResQueryClients failed")
        bases = [clients[i].resource_base for i in range(count.value)]
        if clients:
            self._x11.XFree(clients)
        return bases

    def pids(self) -> dict[int, int]:
        """Client base -> pid, for the clients whose process the server knows
        (local connections)."""
        wanted = _ClientIdQuery(0, _PID_MASK)  # client 0: every client
        count = ctypes.c_long()
        values = ctypes.POINTER(_IdValue)()
        # Unlike the older requests, this one answers Success (0) when it worked.
        if self._xres.XResQueryClientIds(self._dpy, 1, ctypes.byref(wanted), ctypes.byref(count),
                                         ctypes.byref(values)) != 0:
            raise RuntimeError("XResQueryClientIds failed")
        found = {}
        for i in range(count.value):
            if values[i].query.mask & _PID_MASK:
                pid = self._xres.XResGetClientPid(ctypes.byref(values[i]))
                if pid > 0:
                    found[values[i].query.client] = pid
        self._xres.XResClientIdsDestroy(count, values)
        return found

    def resources(self, base: int, pid: int | None = None) -> ClientResources:
        count = ctypes.c_int()
        types = ctypes.POINTER(_Type)()
        result = ClientResources(base, pid)
        if self._xres.XResQueryClientResources(self._dpy, base, ctypes.byref(count),
                                               ctypes.byref(types)):
            for i in range(count.value):
                result.counts[self._atom_name(types[i].resource_type)] = types[i].count
            if types:
                self._x11.XFree(types)
        size = ctypes.c_ulong()
        if self._xres.XResQueryClientPixmapBytes(self._dpy, base, ctypes.byref(size)):
            result.pixmap_bytes = size.value
        return result

    def clients(self) -> list[ClientResources]:
        """Every client now, with its resources."""
        pids = self.pids()
        return [self.resources(base, pids.get(base)) for base in self.client_bases()]

    def of_pids(self, pids: set[int]) -> list[ClientResources]:
        """The clients that these processes hold (a Wine process may hold several)."""
        return [c for c in self.clients() if c.pid in pids]

    def totals(self) -> dict[str, int]:
        """The client count, and each figure summed over every client."""
        out: dict[str, int] = {}
        clients = self.clients()
        for client in clients:
            for name, value in client.figures().items():
                out[name] = out.get(name, 0) + value
        out["clients"] = len(clients)
        return out


def summed(clients: list[ClientResources]) -> dict[str, int]:
    """The figures of several clients added up (0 for each kind when there are none)."""
    out = ClientResources(0, None).figures()
    for client in clients:
        for name, value in client.figures().items():
            out[name] = out.get(name, 0) + value
    return out
