"""Loads the zelapi shared library and declares the C functions of zelapi.h.

Where the library is looked for, first match wins:
1. the path in the environment variable ZELAPI_LIBRARY (it must load);
2. beside this package (a copy of libzelapi.so / zelapi.dll put there);
3. the platform's loader path (LD_LIBRARY_PATH, the ld cache, PATH ...).
"""

import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import CFUNCTYPE, POINTER, Structure, c_char_p, c_int, c_long, c_uint8, c_uint32, c_void_p
from typing import Any, List, Optional, Union

from .errors import LibraryError

if sys.platform == "win32":
    LIBRARY_NAMES = ["zelapi.dll"]
elif sys.platform == "darwin":
    LIBRARY_NAMES = ["libzelapi.dylib"]
else:
    LIBRARY_NAMES = ["libzelapi.so"]

# zelReadHeader keeps C++ linkage: GCC's name first, then MSVC's alias (the
# Windows DLL carries both), then a plain name for a C-linkage stand-in.
READ_HEADER_NAMES = ["_Z13zelReadHeaderv", "?zelReadHeader@@YAJXZ", "zelReadHeader"]

ProgressCallback = CFUNCTYPE(None, c_void_p, c_int)
TextCallback = CFUNCTYPE(None, c_void_p, c_char_p)
ResultCallback = CFUNCTYPE(None, c_void_p, c_int)


class ZelCallbacks(Structure):
    _fields_ = [
        ("onProgressChange", ProgressCallback),
        ("onStateChange", TextCallback),
        ("onResult", ResultCallback),
        ("onMessage", TextCallback),
    ]


_PROTOTYPES = {
    "zelInit": (c_int, [c_int, c_int, c_int, c_int, c_int]),
    "zelInitTrans": (c_int, [c_char_p, c_int, c_int, c_int]),
    "zelClose": (c_int, []),
    "zelGetAvailableSpiPorts": (c_int, [ctypes.c_ssize_t] * 4),
    "zelSetPioLines": (c_int, [c_int, c_int, c_int]),
    "zelGetDeviceAddress": (c_int, []),
    "zelCheckSize": (c_int, []),
    "zelWriteHeader": (c_int, []),
    "zelGetProgress": (c_int, []),
    "zelGetResult": (c_int, []),
    "zelIsBusy": (c_int, []),
    "zelStop": (c_int, []),
    "zelProgram": (c_int, [c_char_p, c_uint8, c_uint8]),
    "zelVerify": (c_int, [c_char_p, c_uint8]),
    "zelDump": (c_int, [c_char_p, c_uint8, c_uint8]),
    "zelClear": (c_int, [c_uint8, c_uint8, c_uint8]),
    "zelGetVersion": (c_int, [c_char_p]),
    "zelGetGeometry": (c_int, [POINTER(c_int)] * 3),
    "zelSetPageWrite": (c_int, [c_int]),
    "zelReadMemory": (c_int, [c_uint32, POINTER(c_uint8), c_uint32, c_uint8]),
    "zelWriteMemory": (c_int, [c_uint32, POINTER(c_uint8), c_uint32, c_uint8, c_uint8]),
    "zelSetCallbacks": (c_int, [POINTER(ZelCallbacks), c_void_p]),
    "zelSetBatching": (c_int, [c_int]),
    "zelProbeDevice": (c_int, [c_int]),
    "zelReadAtDevice": (c_int, [c_int, POINTER(c_uint8), c_int, POINTER(c_uint8), c_int]),
}


def narrow(text: Union[str, bytes, "os.PathLike[str]"]) -> bytes:
    """A path or configuration string as the library's narrow (8-bit) C
    strings take it: the file-system encoding on POSIX, the ANSI code page
    that fopen uses on Windows."""
    if isinstance(text, bytes):
        return text
    value = os.fspath(text)
    if isinstance(value, bytes):
        return value
    if sys.platform == "win32":
        try:
            return value.encode("mbcs", "strict")
        except UnicodeEncodeError as error:
            raise ValueError(f"{value!r} cannot be written in the system's code page") from error
    return os.fsencode(value)


class Library:
    """The loaded library: its functions are bound on first use, so that a
    library without one of the extensions still serves the others."""

    def __init__(self, dll: ctypes.CDLL, path: str) -> None:
        self._dll = dll
        self.path = path

    def __getattr__(self, name: str) -> Any:
        if name == "zelReadHeader":
            function = self._read_header()
        else:
            if name not in _PROTOTYPES:
                raise AttributeError(name)
            try:
                function = getattr(self._dll, name)
            except AttributeError:
                raise LibraryError(f"{self.path} does not export {name}: "
                                   "the library is older than this package") from None
            function.restype, function.argtypes = _PROTOTYPES[name]
        setattr(self, name, function)
        return function

    def _read_header(self) -> Any:
        for symbol in READ_HEADER_NAMES:
            try:
                function = self._dll[symbol]
            except AttributeError:
                continue
            function.restype, function.argtypes = c_long, []
            return function
        raise LibraryError(f"{self.path} exports no zelReadHeader")


def _candidates() -> List[str]:
    override = os.environ.get("ZELAPI_LIBRARY")
    if override:
        return [override]
    here = os.path.dirname(os.path.abspath(__file__))
    beside = [os.path.join(here, name) for name in LIBRARY_NAMES]
    found = [path for path in beside if os.path.isfile(path)]
    searched = ctypes.util.find_library("zelapi")
    return found + ([searched] if searched else []) + LIBRARY_NAMES


def _load(path: str) -> ctypes.CDLL:
    if sys.platform == "win32" and os.path.isabs(path):
        # hoplink.dll sits beside zelapi.dll; PATH is not searched for it
        _dll_directories.append(os.add_dll_directory(os.path.dirname(path)))
    return ctypes.CDLL(path)


_dll_directories: List[Any] = []
_lock = threading.Lock()  # guards _library while it is loaded
_library: Optional[Library] = None


def library() -> Library:
    """The library, loaded on first use. Raises LibraryError when none
    loads."""
    global _library
    with _lock:
        if _library is None:
            failures = []
            for path in _candidates():
                try:
                    _library = Library(_load(path), path)
                    break
                except OSError as error:
                    failures.append(f"{path}: {error}")
            else:
                raise LibraryError("cannot load the zelapi library (set ZELAPI_LIBRARY to its path): " +
                                   "; ".join(failures))
        return _library
