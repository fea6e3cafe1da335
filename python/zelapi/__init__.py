"""zelapi: program, read back, verify, erase and size-check a serial two-wire
EEPROM (24Cxx) on the PIO lines of a target chip reached over an SPI debug
link, through the zelapi library (libzelapi.so / zelapi.dll).

    import zelapi
    with zelapi.open(part="24c256") as ee:       # the virtual target
        ee.program("firmware.img")               # write what differs, verify
        serial = ee[0x20:0x24]

The library is looked for in ZELAPI_LIBRARY, beside this package, then on the
loader path.
"""

from ctypes import addressof, c_int32, create_string_buffer
from typing import List

from . import _native
from ._detect import Detection
from ._eeprom import Eeprom, Geometry, detect, open
from ._jobs import ProgressFunction
from ._link import PARTS
from ._parts import TABLE as PART_TABLE
from ._parts import Part
from .errors import BusyError, Error, FileError, ImageError, LibraryError, LinkError, Mismatch, VerifyError

__all__ = [
    "BusyError", "Detection", "Eeprom", "Error", "FileError", "Geometry", "ImageError", "LibraryError",
    "LinkError", "Mismatch", "PART_TABLE", "PARTS", "Part", "ProgressFunction", "VerifyError", "detect", "open",
    "ports", "version",
]
__version__ = "2.1.0"

_PORT_LIST_BYTES = 4096
_PORT_LIST_LIMIT = 1 << 20


def version() -> str:
    """The library's version text, e.g. "2.1"."""
    buffer = create_string_buffer(64)
    _native.library().zelGetVersion(buffer)
    return buffer.value.decode("ascii", "replace")


def ports() -> List[str]:
    """The SPI ports that the transport library offers."""
    lib = _native.library()
    size = _PORT_LIST_BYTES
    while True:
        count = c_int32(0)
        names = create_string_buffer(size)
        if not lib.zelGetAvailableSpiPorts(addressof(count), addressof(names), size, 0):
            raise LinkError("the transport library could not list its ports")
        listed = [name for name in names.value.decode("utf-8", "replace").split("\n") if name]
        # the transport cuts the list at a port that does not fit
        if len(listed) >= count.value or size >= _PORT_LIST_LIMIT:
            return listed
        size *= 16
