"""Watching the board's device from outside the driver: gone, replaced or hung up.

The driver opens the device once, when it is loaded, and never says whether
that worked or whether the board is still there; a board that has gone reads
as stale values. So the package looks for itself, at the cost of one stat and
one poll a reading: the path the driver opened, the device it led to then, and
the driver's own descriptor of it.
"""

import contextlib
import os
import select
import stat
import threading

DEVICE_VARIABLE = "VOSTRELLE_DEVICE"
DEFAULT_DEVICE = "/dev/ttyACM0"

_HUNG_UP = select.POLLHUP | select.POLLERR | select.POLLNVAL


class BoardGone(ConnectionError):
    """The board's device has gone (unplugged, replaced, hung up) or was not
    there when the driver was loaded. `device` is its path;
    Board.wait_for_board() waits until it is back."""

    def __init__(self, device: str, reason: str):
        super().__init__(f"the board at {device} {reason}; board.wait_for_board() waits for it")
        self.device = device


class BoardSilent(BoardGone):
    """The board's device is there, but nothing answers on it: a board whose
    firmware hangs, or another device at that name."""


class BoardInUse(RuntimeError):
    """Another Board in this process has the device open: two drivers on one
    port would take each other's replies."""


# The devices of the open Boards: {board: path}.
_claims = {}
_claiming = threading.Lock()


def same_device(path: str, other: str) -> bool:
    """Whether two paths lead to one device: the same file after links, or
    the same device number."""
    if os.path.realpath(path) == os.path.realpath(other):
        return True
    found, other_found = identity(path), identity(other)
    if found is None or other_found is None:
        return False
    return found[:2] == other_found[:2] or found[2] != 0 and found[2] == other_found[2]


def claim(path: str, owner) -> None:
    """Note that `owner` opens `path`; BoardInUse when another owner has that device."""
    with _claiming:
        for holder, taken in _claims.items():
            if holder is not owner and same_device(path, taken):
                also = "" if taken == path else f" (as {taken})"
                raise BoardInUse(f"the board at {path} is open already in this process{also}: "
                                 "use that Board, or close it first")
        _claims[owner] = path


def release(owner) -> None:
    with _claiming:
        _claims.pop(owner, None)


def chosen_path() -> str:
    """The path the driver opens when it is loaded now."""
    return os.environ.get(DEVICE_VARIABLE) or DEFAULT_DEVICE


@contextlib.contextmanager
def chosen(path: str):
    """Within it, a load of the driver opens `path`, whatever the
    environment says: a Board follows the device it was created on."""
    before = os.environ.get(DEVICE_VARIABLE)
    os.environ[DEVICE_VARIABLE] = path
    try:
        yield
    finally:
        if before is None:
            del os.environ[DEVICE_VARIABLE]
        else:
            os.environ[DEVICE_VARIABLE] = before


def identity(path: str):
    """What the path leads to now, links followed: (file system, inode,
    device number), or None when nothing is there."""
    try:
        found = os.stat(path)
    except OSError:
        return None
    return found.st_dev, found.st_ino, found.st_rdev


def seen(path: str):
    """What the path leads to now and when its node last changed (udev may
    grant access a moment after the node appears), or None."""
    try:
        found = os.stat(path)
    except OSError:
        return None
    return found.st_dev, found.st_ino, found.st_rdev, found.st_ctime_ns


def _descriptor_of(found) -> int | None:
    """This process's descriptor open on that device: the driver's port."""
    for name in os.listdir("/proc/self/fd"):
        try:
            opened = os.stat(f"/proc/self/fd/{name}")
        except OSError:
            continue
        if stat.S_ISCHR(opened.st_mode) and (opened.st_dev, opened.st_ino, opened.st_rdev) == found:
            return int(name)
    return None


class Device:
    """The device one load of the driver opened."""

    def __init__(self, path: str):
        self.path = path
        self.opened = identity(self.path)
        self._port = None
        self._not_opened = None if self.opened else "was not there when the driver was loaded"
        if self.opened is not None and os.path.isdir("/proc/self/fd"):  # else the path alone tells
            self._port = _descriptor_of(self.opened)
            if self._port is None:
                self._not_opened = ("is not open in the driver (it could not open it: "
                                    "vostrelle-probe doctor says why)")

    def gone(self) -> str | None:
        """Why the board cannot be reached through this load, or None."""
        if self._not_opened:
            return self._not_opened
        now = identity(self.path)
        if now is None:
            return "has gone: the path no longer exists"
        if now != self.opened:
            return "has gone: the path now leads to another device"
        if self._port is not None and self._hung_up():
            return "has gone: its port hung up"
        return None

    def _hung_up(self) -> bool:
        watch = select.poll()
        watch.register(self._port, 0)
        return any(events & _HUNG_UP for _, events in watch.poll(0))
