"""Finding and loading the vm316 library, and giving each export its C signature."""

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path

from ._exports import FAMILY_EXPORTS, HOST_EXTRAS

_PACKAGE_DIR = Path(__file__).resolve().parent
_WINDOWS = sys.platform == "win32"
_FILE_NAMES = ("vm316.dll",) if _WINDOWS else ("libvm316.so.0", "libvm316.so")


def _installed_candidates():
    """The library beside the package in a tree made by cmake --install."""
    try:
        from . import _installed
    except ImportError:
        return []
    return [Path(os.path.normpath(_PACKAGE_DIR / _installed.LIBRARY_DIRECTORY /
                                  _installed.LIBRARY_NAME))]


def _build_tree_candidates():
    """The library in a build directory of the source tree this package sits in."""
    source = _PACKAGE_DIR.parent.parent
    if not (source / "include" / "vm316.h").is_file():
        return []
    builds = sorted(path for path in source.glob("build*") if path.is_dir())
    # The default preset's build/ first.
    builds.sort(key=lambda path: path.name != "build")
    return [build / name for build in builds for name in _FILE_NAMES]


def find_library():
    """The path of the library to load: VM316_LIBRARY, else the one installed beside this
    package, else one in the source tree's build directories, else the system's (the loader's
    own search by name). Raises OSError when there is none."""
    explicit = os.environ.get("VM316_LIBRARY")
    if explicit:
        if not Path(explicit).is_file():
            raise OSError(f"VM316_LIBRARY={explicit} is not a file")
        return explicit
    for candidate in _installed_candidates() + _build_tree_candidates():
        if candidate.is_file():
            return str(candidate)
    found = ctypes.util.find_library("vm316")
    if found:
        return found
    raise OSError("libvm316 not found: set VM316_LIBRARY to its path, install it (cmake "
                  "--install), or build it in the source tree (cmake --preset default)")


class Library:
    """The loaded library: every export as an attribute, with its exact argtypes and restype."""

    def __init__(self, path=None):
        self.path = path or find_library()
        family = ctypes.WinDLL(self.path) if _WINDOWS else ctypes.CDLL(self.path)
        extras = ctypes.CDLL(self.path) if _WINDOWS else family
        for exports, dll in ((FAMILY_EXPORTS, family), (HOST_EXTRAS, extras)):
            for name, (restype, argtypes) in exports.items():
                function = getattr(dll, name)
                function.restype = restype
                function.argtypes = argtypes
                setattr(self, name, function)


_loaded = None


def library():
    """The process's one library (it holds one instrument per process), loaded on first use."""
    global _loaded
    if _loaded is None:
        _loaded = Library()
    return _loaded
