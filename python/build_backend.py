"""Builds the vostrelle wheel with the standard library alone.

The package is pure Python, and a classroom machine may have no network:
a backend that pip had to download first (build isolation) would make
`pip install .` fail there. This one needs nothing but Python itself.
"""

import base64
import hashlib
import pathlib
import tomllib
import zipfile

from vostrelle._version import version_in

HERE = pathlib.Path(__file__).parent
PROJECT = tomllib.loads((HERE / "pyproject.toml").read_text())["project"]
VERSION = version_in(HERE.parent / "CMakeLists.txt")
WHEEL_TAG = "py3-none-any"


def _metadata() -> str:
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {PROJECT['name']}",
        f"Version: {VERSION}",
        f"Summary: {PROJECT['description']}",
        f"Requires-Python: {PROJECT['requires-python']}",
        f"License: {PROJECT['license']['text']}",
    ]
    for extra, needs in PROJECT.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {need}; extra == "{extra}"' for need in needs]
    return "\n".join(lines) + "\n"


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    """Write vostrelle-VERSION-py3-none-any.whl into wheel_directory."""
    stem = f"{PROJECT['name']}-{VERSION}"
    dist_info = f"{stem}.dist-info"
    files = {path.relative_to(HERE).as_posix(): path.read_bytes() for path in sorted(HERE.glob("vostrelle/*.py"))}
    files["vostrelle/_installed_version.py"] = f'VERSION = "{VERSION}"\n'.encode()
    files[f"{dist_info}/METADATA"] = _metadata().encode()
    files[f"{dist_info}/WHEEL"] = (
        f"Wheel-Version: 1.0\nGenerator: vostrelle\nRoot-Is-Purelib: true\nTag: {WHEEL_TAG}\n".encode()
    )
    record = [_record_line(name, data) for name, data in files.items()] + [f"{dist_info}/RECORD,,"]
    files[f"{dist_info}/RECORD"] = ("\n".join(record) + "\n").encode()
    wheel = f"{stem}-{WHEEL_TAG}.whl"
    with zipfile.ZipFile(pathlib.Path(wheel_directory) / wheel, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return wheel
