"""The package's version: the project's, written once, in its CMakeLists.txt.

An installed package (the wheel, the Debian package) carries it in
`_installed_version.py`, written when it is built; a source tree reads it from
the project's CMakeLists.txt.
"""

import pathlib
import re


def version_in(cmake_lists: pathlib.Path) -> str:
    """The VERSION of project(vostrelle ...) in a CMakeLists.txt."""
    return re.search(r"project\(vostrelle VERSION ([0-9.]+)", cmake_lists.read_text()).group(1)


def project_version() -> str:
    try:
        from ._installed_version import VERSION
    except ImportError:  # a source tree, or a copy of the package without it
        try:
            return version_in(pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt")
        except (OSError, AttributeError):
            return "unknown"
    return VERSION
