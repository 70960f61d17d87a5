"""Finding and loading the driver library, and the C names this package uses."""

import ctypes
import os
import platform
import struct
import threading

LIBRARY_VARIABLE = "VOSTRELLE_LIBRARY"
SONAME = "libvostrelle.so.1"
# A load opens the board's device and gives the board this long to start.
LOAD_SECONDS = 2.0

# The driver is not thread-safe and its returned texts live until the next
# call: every call goes through this one lock.
lock = threading.Lock()

# The caller-cleans names: cdecl on 32-bit x86, plain C functions elsewhere,
# so ctypes calls them the same way on every machine.
_PROTOTYPES = {
    "cea": (ctypes.c_int, (ctypes.c_int,)),
    "cead": (ctypes.c_double, (ctypes.c_int,)),
    "cnea": (ctypes.c_char_p, (ctypes.c_int,)),
    "cnead": (ctypes.c_char_p, (ctypes.c_int,)),
    "csa": (ctypes.c_int, (ctypes.c_int, ctypes.c_int)),
    "csb": (ctypes.c_int, (ctypes.c_int, ctypes.c_int)),
    "crsb": (ctypes.c_int, (ctypes.c_int,)),
    "ctitre": (ctypes.c_char_p, ()),
    "cdetail": (ctypes.c_char_p, ()),
}

# ELF e_machine values, and the Debian architectures they go with.
_ELF_MACHINES = {3: "i386", 62: "amd64", 183: "arm64", 40: "armhf"}


class LibraryError(OSError):
    """The driver library could not be loaded; the message says which file
    was tried, why it failed and what installs the right one."""


def this_architecture() -> str:
    """The Debian architecture of this Python: amd64, i386, arm64 or armhf."""
    machine = platform.machine()
    bits = struct.calcsize("P") * 8
    if machine in ("x86_64", "amd64", "i386", "i686"):
        return "amd64" if bits == 64 else "i386"
    if machine in ("aarch64", "arm64", "armv7l", "armv8l"):
        return "arm64" if bits == 64 else "armhf"
    return machine


def _architecture_of(path: str) -> str | None:
    """The architecture an ELF file is built for, or None if it is not one."""
    try:
        with open(path, "rb") as file:
            header = file.read(20)
    except OSError:
        return None
    if len(header) < 20 or header[:4] != b"\x7fELF":
        return None
    order = "<" if header[5] == 1 else ">"
    (machine,) = struct.unpack(order + "H", header[18:20])
    return _ELF_MACHINES.get(machine, f"ELF machine {machine}")


def _explain(path: str, error: OSError) -> str:
    here = this_architecture()
    lines = [f"cannot load the Vostrelle driver library {path!r}: {error}"]
    built_for = _architecture_of(path) if os.sep in path else None
    if built_for and built_for != here:
        lines.append(f"that file is built for {built_for}, but this Python runs on {here}.")
    if os.sep not in path:
        lines.append(f"it is looked for on the system's library path ({LIBRARY_VARIABLE} is not set).")
    lines.append(
        f"Install the driver for {here} (apt install libvostrelle1:{here}), "
        f"or set {LIBRARY_VARIABLE} to the path of a libvostrelle.so.1 built for {here}."
    )
    return "\n".join(lines)


def _path(path: str | None) -> str:
    return path or os.environ.get(LIBRARY_VARIABLE) or SONAME


def _declare(library: ctypes.CDLL, path: str) -> ctypes.CDLL:
    for name, (result, arguments) in _PROTOTYPES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            unload(library)
            raise LibraryError(f"{path!r} has no entry point {name}: not a Vostrelle driver library") from None
        function.restype = result
        function.argtypes = arguments
    return library


def load(path: str | None = None) -> ctypes.CDLL:
    """Load the driver: `path`, else $VOSTRELLE_LIBRARY, else libvostrelle.so.1
    from the system's library path. Loading opens the board's device and
    takes about two seconds. Raises LibraryError when it cannot."""
    path = _path(path)
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        raise LibraryError(_explain(path, error)) from None
    return _declare(library, path)


def _loaded_already(path: str) -> ctypes.CDLL | None:
    """Another reference to the driver at `path` if it is loaded, else None."""
    try:
        return ctypes.CDLL(_path(path), mode=os.RTLD_NOLOAD)
    except OSError:
        return None


def still_loaded(path: str | None) -> bool:
    """Whether the driver is still loaded: through another load of it in this process."""
    library = _loaded_already(path)
    if library is not None:
        unload(library)
    return library is not None


def adopt(path: str | None) -> ctypes.CDLL | None:
    """The driver at `path` when a load returned it but it was lost on the way
    (a Ctrl-C raised as the load returned): that load's reference, or None
    when the driver is not loaded."""
    library = _loaded_already(path)
    if library is None:
        return None
    unload(library)  # this look's own reference: the lost one stays, and is the caller's now
    return _declare(library, _path(path))


def unload(library: ctypes.CDLL) -> None:
    """Give back this load of the library; the last one closes the device."""
    import _ctypes

    _ctypes.dlclose(library._handle)
