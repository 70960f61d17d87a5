"""The serial ports a board may appear as, as `vostrelle-probe list` shows them:
USB identity, stable name, owner group and mode, access, and who holds each."""

import dataclasses
import grp
import os
import stat

STABLE_NAMES = "/dev/serial/by-id"
PORT_PREFIXES = ("ttyACM", "ttyUSB")
# A tty's sysfs device is the USB interface (ACM) or a port below it (USB
# serial adapters); the USB device with its IDs is a few levels up.
USB_DEVICE_SEARCH_DEPTH = 4


@dataclasses.dataclass(frozen=True)
class UsbIdentity:
    vendor_id: str  # four hex digits
    product_id: str
    manufacturer: str
    product: str
    serial: str


@dataclasses.dataclass(frozen=True)
class Port:
    """One serial port: `device` is its path, `usb` its USB identity (None for
    a port that is not a USB device), `held_by` the (pid, program) of each
    other process that has it open."""

    device: str
    stable_name: str | None
    usb: UsbIdentity | None
    group: str
    mode: str  # crw-rw----
    can_open: bool
    held_by: tuple[tuple[int, str], ...]

    @property
    def serial(self) -> str | None:
        return self.usb.serial if self.usb and self.usb.serial else None


def _sysfs_root() -> str:
    return os.environ.get("VOSTRELLE_SYSFS_ROOT") or "/sys"


def _first_line(path: str) -> str | None:
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            return file.readline().rstrip("\n")
    except OSError:
        return None


def usb_identity(device: str) -> UsbIdentity | None:
    """The USB device behind a tty, read from sysfs; None for another kind of port."""
    tty = f"{_sysfs_root()}/class/tty/{os.path.basename(os.path.realpath(device))}/device"
    if not os.path.exists(tty):
        return None
    directory = os.path.realpath(tty)
    for _ in range(USB_DEVICE_SEARCH_DEPTH):
        vendor = _first_line(f"{directory}/idVendor")
        if vendor is not None:
            attribute = [_first_line(f"{directory}/{name}") or ""
                         for name in ("idProduct", "manufacturer", "product", "serial")]
            return UsbIdentity(vendor, *attribute)
        directory = os.path.dirname(directory)
    return None


def _stable_name(device: str, stable_names: str) -> str | None:
    target = os.path.realpath(device)
    try:
        names = sorted(os.listdir(stable_names))
    except OSError:
        return None
    links = (f"{stable_names}/{name}" for name in names)
    return next((link for link in links if os.path.realpath(link) == target), None)


def _holders(device: str) -> tuple[tuple[int, str], ...]:
    """Every other process with a descriptor on the device (those this user may look at)."""
    target = os.path.realpath(device)
    held = []
    for pid in sorted(int(p) for p in os.listdir("/proc") if p.isdigit() and int(p) != os.getpid()):
        try:
            opened = {os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd")}
        except OSError:
            continue
        if target in opened:
            held.append((pid, _first_line(f"/proc/{pid}/comm") or "?"))
    return tuple(held)


def _group(gid: int) -> str:
    try:
        return grp.getgrgid(gid).gr_name
    except KeyError:
        return str(gid)


def describe(device: str, stable_names: str = STABLE_NAMES) -> Port:
    found = os.stat(device)
    return Port(device, _stable_name(device, stable_names), usb_identity(device), _group(found.st_gid),
                stat.filemode(found.st_mode), os.access(device, os.R_OK | os.W_OK), _holders(device))


def boards(dev: str = "/dev") -> list[Port]:
    """Every /dev/ttyACM* and /dev/ttyUSB* port, in order: what `vostrelle-probe list` shows."""
    names = sorted(n for n in os.listdir(dev) if n.startswith(PORT_PREFIXES) and n not in PORT_PREFIXES)
    ports = []
    for name in names:
        try:
            ports.append(describe(f"{dev}/{name}", f"{dev}/serial/by-id"))
        except OSError:  # gone since the listing
            continue
    return ports
