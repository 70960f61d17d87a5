"""Finding the driver library, loading instances of it, and the C names this package uses."""

import ctypes
import os
import platform
import struct
import subprocess
import sys
import threading

from . import _device

LIBRARY_VARIABLE = "VOSTRELLE_LIBRARY"
SONAME = "libvostrelle.so.1"
# A load opens the board's device and gives the board this long to start.
LOAD_SECONDS = 2.0

# Loads one at a time: each reads $VOSTRELLE_DEVICE as it starts.
_loading = threading.Lock()

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


def _cached_paths(name: str):
    """Where the loader's cache (ldconfig) has `name`."""
    try:
        listing = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True,
                                 env=dict(os.environ, PATH=f"{os.environ.get('PATH', '')}:/sbin:/usr/sbin"))
    except OSError:
        return []
    return [line.split(" => ", 1)[1] for line in listing.stdout.splitlines()
            if line.strip().startswith(name + " ") and " => " in line]


def _candidates(name: str):
    """The files the dynamic loader would try for a bare library name, in its order."""
    searched = [d for d in os.environ.get("LD_LIBRARY_PATH", "").split(":") if d]
    multiarch = getattr(sys.implementation, "_multiarch", "")
    defaults = [f"/lib/{multiarch}", f"/usr/lib/{multiarch}", "/lib", "/usr/lib"]
    return ([os.path.join(d, name) for d in searched] + _cached_paths(name)
            + [os.path.join(d, name) for d in defaults])


def locate(path: str | None) -> str:
    """The driver library's file: `path`, else $VOSTRELLE_LIBRARY, else
    libvostrelle.so.1 where the system's loader would find it."""
    name = _path(path)
    if os.sep in name:
        return name
    for candidate in _candidates(name):
        if _architecture_of(candidate) == this_architecture():
            return candidate
    error = OSError(f"{name}: cannot open shared object file: No such file or directory")
    raise LibraryError(_explain(name, error))


def _declare(library: ctypes.CDLL, path: str) -> ctypes.CDLL:
    for name, (result, arguments) in _PROTOTYPES.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            missing = f"{path!r} has no entry point {name}: not a Vostrelle driver library"
            raise LibraryError(missing) from None
        function.restype = result
        function.argtypes = arguments
    return library


class Driver:
    """One instance of the driver library of its own: its own state, texts
    and device. The library keeps its state in the module and opens its
    device when it is loaded, and the loader gives a file it has loaded
    already back again; so each instance is loaded from a private copy, in
    memory (a memfd), that no other load shares."""

    def __init__(self, path: str | None):
        self.file = locate(path)
        self.functions: ctypes.CDLL | None = None  # while loaded
        # The library is not thread-safe and its returned texts live until the
        # next call: every call into this instance holds this lock.
        self.lock = threading.Lock()
        self._copy = None  # the memfd, open while the instance is loaded: its name stays unique

    def load(self, device: str) -> None:
        """Load the instance, which opens `device` and waits two seconds."""
        try:
            with open(self.file, "rb") as file:
                image = file.read()
        except OSError as error:
            raise LibraryError(_explain(self.file, error)) from None
        with _loading, _device.chosen(device):
            self._copy = os.memfd_create(SONAME, os.MFD_CLOEXEC)
            with open(self._copy, "wb", closefd=False) as copy:
                copy.write(image)
            self._open()

    def _open(self) -> None:
        name = f"/proc/self/fd/{self._copy}"
        try:
            self.functions = _declare(_open_without_the_gil(name), self.file)
        except KeyboardInterrupt:  # raised as the load returned: the instance is loaded, keep it
            self.functions = self._adopt(name)
            raise
        except LibraryError:
            self.unload()
            raise
        except OSError as error:
            self.unload()
            error = OSError(str(error).replace(name, self.file))
            raise LibraryError(_explain(self.file, error)) from None

    def _adopt(self, name: str) -> ctypes.CDLL | None:
        try:
            library = ctypes.CDLL(name, mode=os.RTLD_NOLOAD)
        except OSError:
            return None
        _dlclose(library)  # this look's own reference: the lost one stays, and is this instance's now
        return _declare(library, self.file)

    def unload(self) -> None:
        """Unload the instance, which closes its device."""
        if self.functions is not None:
            _dlclose(self.functions)
            self.functions = None
        if self._copy is not None:
            os.close(self._copy)
            self._copy = None


def _loader_functions():
    """dlopen and dlerror, called as foreign functions: ctypes lets other
    threads run during those, not during its own dlopen."""
    try:
        loader = ctypes.CDLL(None)
        loader.dlopen
    except AttributeError:  # a C library older than 2.34 keeps them in libdl
        loader = ctypes.CDLL("libdl.so.2")
    loader.dlopen.restype, loader.dlopen.argtypes = ctypes.c_void_p, (ctypes.c_char_p, ctypes.c_int)
    loader.dlerror.restype, loader.dlerror.argtypes = ctypes.c_char_p, ()
    return loader.dlopen, loader.dlerror


def _open_without_the_gil(name: str) -> ctypes.CDLL:
    """ctypes.CDLL(name), letting the other Boards' threads run during the
    two seconds the load takes."""
    dlopen, dlerror = _loader_functions()
    handle = dlopen(os.fsencode(name), os.RTLD_NOW | os.RTLD_LOCAL)
    if not handle:
        raise OSError((dlerror() or b"cannot load").decode(errors="replace"))
    return ctypes.CDLL(name, handle=handle)


def _dlclose(library: ctypes.CDLL) -> None:
    import _ctypes

    _ctypes.dlclose(library._handle)
