"""The open link to one EEPROM, and open()."""

import atexit
import contextlib
import errno
import operator
import os
import threading
from ctypes import byref, c_int, c_uint8
from typing import Any, Callable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union

from . import _detect, _files, _images, _jobs, _link, _native, _parts
from ._jobs import ProgressFunction
from .errors import BusyError, Error, FileError, LibraryError, LinkError, Mismatch, VerifyError

PathType = Union[str, "os.PathLike[str]"]
MAX_LIBRARY_PATH = 247  # bytes of a path the library takes, without the terminator
PAGE_SIZES = (0, 2, 4, 8, 16, 32, 64, 128, 256)


class Geometry(NamedTuple):
    """How the library addresses the EEPROM."""

    size_bits: int  # the EEPROM holds 2**size_bits bytes; 0 when the size is unknown
    block_bits: int  # device-address bits that carry the top memory-address bits
    address_bytes: int  # memory-address bytes sent after the device address

    @property
    def size(self) -> int:
        return 1 << self.size_bits if self.size_bits else 0


# The library drives one link and one operation at a time for the whole
# process: this lock admits one call into it at a time (never waited for: a
# second caller is refused with BusyError).
_call_lock = threading.Lock()
_current: Optional["Eeprom"] = None  # the open link, under _call_lock
_page_bytes = 0  # the library's page-write setting (0: byte writes), under _call_lock


@contextlib.contextmanager
def _exclusive() -> Iterator[None]:
    if not _call_lock.acquire(blocking=False):
        raise BusyError("another call is using the library: it runs one operation at a time")
    try:
        yield
    finally:
        _call_lock.release()


def _scratch_path(path: str) -> bytes:
    """The path of a scratch file as the library takes it."""
    encoded = _native.narrow(path)
    if len(encoded) > MAX_LIBRARY_PATH:
        raise FileError(errno.ENAMETOOLONG, f"the temporary folder's path is longer than the library takes "
                        f"({MAX_LIBRARY_PATH} bytes): set TMPDIR to a shorter one", path)
    return encoded


def _byte_range(offset: int, length: Optional[int], size: int) -> Tuple[int, int]:
    offset = _index(offset, "offset")
    if offset < 0:
        raise ValueError(f"offset {offset} is negative: EEPROM addresses run from 0x0 to 0x{size - 1:x}")
    if offset > size:
        raise ValueError(f"offset 0x{offset:x} lies outside the EEPROM (0x0 to 0x{size:x})")
    length = size - offset if length is None else _index(length, "length")
    if length < 0:
        raise ValueError(f"length {length} is negative: give the number of bytes from 0x{offset:x}")
    if offset + length > size:
        raise ValueError(f"{length} bytes from 0x{offset:x} run past the EEPROM's end (0x{size:x})")
    return offset, length


def _bytes(count: int) -> str:
    return f"{count} byte" + ("" if count == 1 else "s")


def _read_memory(lib: _native.Library, offset: int, length: int,
                 progress: Optional[ProgressFunction]) -> bytes:
    buffer = (c_uint8 * length)()
    outcome = _jobs.run(lambda: lib.zelReadMemory(offset, buffer, length, 0), progress, buffer)
    _jobs.check(outcome, f"reading {_bytes(length)} at 0x{offset:x}")
    return bytes(buffer)


def _write_memory(lib: _native.Library, offset: int, data: bytes, verify: bool,
                  progress: Optional[ProgressFunction]) -> None:
    source = (c_uint8 * len(data)).from_buffer_copy(data)
    outcome = _jobs.run(lambda: lib.zelWriteMemory(offset, source, len(data), 0, _flag(verify)),
                        progress, source)
    _jobs.check(outcome, f"writing {_bytes(len(data))} at 0x{offset:x}")


def _index(value: Any, what: str) -> int:
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    return operator.index(value)


def _flag(value: Any) -> int:
    return 1 if value else 0


class Eeprom:
    """An EEPROM on an open link. Made by zelapi.open(); a context manager
    that closes the link on exit.

    Every long call (read, write, program, verify, dump, clear) takes
    ``progress``, a function called with (state, percent) on the calling
    thread each time the state text or the percentage changes."""

    def __init__(self, description: str) -> None:
        self._description = description
        self._closed = False

    # -- link -------------------------------------------------------------

    def close(self) -> None:
        """Closes the link. Closing a closed Eeprom does nothing."""
        global _current
        with _exclusive():
            if self._closed:
                return
            lib = _native.library()
            _jobs.remove_callbacks(lib)
            lib.zelClose()
            self._closed = True
            _current = None

    @property
    def closed(self) -> bool:
        return self._closed

    def __enter__(self) -> "Eeprom":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __repr__(self) -> str:
        if self._closed:
            return f"<zelapi.Eeprom closed, was {self._description}>"
        return f"<zelapi.Eeprom {self._description}>"

    def _lib(self) -> _native.Library:
        if self._closed:
            raise ValueError("the EEPROM's link is closed")
        return _native.library()

    # -- what the library knows -------------------------------------------

    @property
    def geometry(self) -> Geometry:
        """Size bits, block bits and address bytes in use now (after the open
        or read_header)."""
        lib = self._lib()
        size_bits, block_bits, address_bytes = c_int(), c_int(), c_int()
        if not lib.zelGetGeometry(byref(size_bits), byref(block_bits), byref(address_bytes)):
            return Geometry(0, 0, 0)
        return Geometry(size_bits.value, block_bits.value, address_bytes.value)

    @property
    def size(self) -> int:
        """The EEPROM's size in bytes; 0 when unknown (opened without a part on
        an EEPROM that holds no geometry header)."""
        return self.geometry.size

    def __len__(self) -> int:
        return self.size

    def __bool__(self) -> bool:
        return True

    @property
    def device_address(self) -> int:
        """The EEPROM's bus address found when the link opened (0xA0 to 0xAE)."""
        return int(self._lib().zelGetDeviceAddress())

    @property
    def page_size(self) -> int:
        """Bytes written per write transaction: 0 writes byte by byte (the
        default); a power of two from 2 to 256 writes pages of that size."""
        self._lib()
        return _page_bytes

    @page_size.setter
    def page_size(self, page_bytes: int) -> None:
        with _exclusive():
            _set_page_size(self._lib(), page_bytes)

    def _known_size(self) -> int:
        size = self.size
        if size == 0:
            raise ValueError("the EEPROM's size is unknown: pass part= to zelapi.open(), "
                             "or store a geometry header with write_header()")
        return size

    # -- memory -----------------------------------------------------------

    def read(self, offset: int = 0, length: Optional[int] = None, *,
             progress: Optional[ProgressFunction] = None) -> bytes:
        """Reads `length` bytes from `offset` (default: to the end)."""
        with _exclusive():
            lib = self._lib()
            offset, length = _byte_range(offset, length, self._known_size())
            return _read_memory(lib, offset, length, progress) if length else b""

    def write(self, data: Union[bytes, bytearray, memoryview, Sequence[int]], offset: int = 0,
              verify: bool = True, *, progress: Optional[ProgressFunction] = None) -> None:
        """Writes `data` at `offset` (only the bytes that differ), then with
        `verify` reads the range back and raises VerifyError where it
        differs."""
        payload = bytes(data)
        with _exclusive():
            lib = self._lib()
            offset, length = _byte_range(offset, len(payload), self._known_size())
            if length:
                _write_memory(lib, offset, payload, verify, progress)

    def __iter__(self) -> Iterator[int]:
        return iter(self.read())

    def __getitem__(self, key: Union[int, slice]) -> Any:
        size = self._known_size()
        if isinstance(key, slice):
            start, stop = self._span(key, size)
            return self.read(start, stop - start)
        index = self._position(key, size)
        return self.read(index, 1)[0]

    def __setitem__(self, key: Union[int, slice], value: Any) -> None:
        size = self._known_size()
        if isinstance(key, slice):
            start, stop = self._span(key, size)
            data = bytes(value)
            if len(data) != stop - start:
                raise ValueError(f"{len(data)} bytes cannot replace a slice of {stop - start}: "
                                 "the EEPROM's size is fixed")
            self.write(data, start)
            return
        byte = _index(value, "a byte")
        if not 0 <= byte <= 0xFF:
            raise ValueError(f"a byte is 0 to 255, not {byte}")
        self.write(bytes([byte]), self._position(key, size))

    @staticmethod
    def _span(key: slice, size: int) -> Tuple[int, int]:
        start, stop, step = key.indices(size)
        if step != 1:
            raise ValueError("EEPROM slices take no step")
        return start, max(start, stop)

    @staticmethod
    def _position(key: Any, size: int) -> int:
        index = _index(key, "an EEPROM index")
        position = index + size if index < 0 else index
        if not 0 <= position < size:
            raise IndexError(f"EEPROM index {index} out of range (size {size})")
        return position

    # -- image files ------------------------------------------------------

    def program(self, path: PathType, verify: bool = True, *, format: Optional[str] = None,
                pad: bool = False, progress: Optional[ProgressFunction] = None) -> None:
        """Writes the image file `path` into the EEPROM (only the bytes that
        differ), then with `verify` reads it back and compares.

        `format` is "text", "bin", "ihex" or "srec"; by default the file
        name's ending says (.bin, .hex/.ihex, .srec/.s19/.s28/.s37, else
        text). Only the cells a file's records name are written; a binary
        file is the whole EEPROM (with `pad`, a shorter one is filled with
        0xff). A file that cannot be read raises FileError, one that names no
        cell of this EEPROM ImageError, before anything is written."""
        with _exclusive():
            lib = self._lib()
            runs = self._image_runs(path, format, pad)
            if self._whole(runs):
                self._image_job(lambda image: lib.zelProgram(image, 0, _flag(verify)), runs[0][1],
                                progress, f"programming {os.fsdecode(path)!r}")
                return
            for address, cells in runs:
                _write_memory(lib, address, cells, verify, progress)

    def verify(self, path: PathType, *, format: Optional[str] = None, pad: bool = False,
               progress: Optional[ProgressFunction] = None) -> None:
        """Compares the EEPROM with the image file `path` (read as program()
        reads it) where the file names cells; raises VerifyError where they
        differ."""
        with _exclusive():
            lib = self._lib()
            runs = self._image_runs(path, format, pad)
            if self._whole(runs):
                self._image_job(lambda image: lib.zelVerify(image, 0), runs[0][1], progress,
                                f"verifying {os.fsdecode(path)!r}")
                return
            mismatches: List[Mismatch] = []
            for address, cells in runs:
                read = _read_memory(lib, address, len(cells), progress)
                mismatches += [(address + k, got, want) for k, (got, want) in enumerate(zip(read, cells))
                               if got != want]
            if mismatches:
                # told as the library's memory jobs tell a differing byte
                raise VerifyError(mismatches, [f"ERROR: byte 0x{at:x} read as 0x{got:x} instead of 0x{want:x}"
                                               for at, got, want in mismatches])

    def dump(self, path: PathType, verify: bool = False, *, format: Optional[str] = None,
             progress: Optional[ProgressFunction] = None) -> None:
        """Reads the EEPROM into the image file `path` (twice, compared, with
        `verify`), in `format` or the one its name says (see program()). The
        file is replaced whole or not at all: a dump that fails leaves the old
        file as it was, or none."""
        kind = _images.format_of(path, format)
        with _exclusive():
            lib = self._lib()
            size = self._known_size()
            replacement = _files.Replacement(path)
            try:
                with _files.scratch() as scratch:
                    encoded = _scratch_path(scratch)
                    outcome = _jobs.run(lambda: lib.zelDump(encoded, 0, _flag(verify)), progress)
                    _jobs.check(outcome, f"dumping to {os.fsdecode(path)!r}")
                    runs = _images.decode("text", _files.read_file(scratch), size)
                if not self._whole(runs):
                    raise Error(f"the library's dump of the EEPROM was not whole ({len(runs)} runs)")
                replacement.commit(_images.encode(kind, runs[0][1]))
            finally:
                replacement.discard()

    def _image_runs(self, path: PathType, format: Optional[str], pad: bool) -> List[_images.Run]:
        size = self._known_size()
        kind = _images.format_of(path, format)  # a bad format name fails before the file is read
        return _images.read(path, _files.read_file(path), size, kind, pad)

    def _whole(self, runs: List[_images.Run]) -> bool:
        return len(runs) == 1 and runs[0][0] == 0 and len(runs[0][1]) == self.size

    @staticmethod
    def _image_job(start: Callable[[bytes], Any], image: bytes, progress: Optional[ProgressFunction],
                   what: str) -> None:
        """Runs an image job of the library on `image`, which it reads as a
        text image from a scratch file."""
        with _files.scratch(_images.encode("text", image)) as scratch:
            encoded = _scratch_path(scratch)
            outcome = _jobs.run(lambda: start(encoded), progress)
        # the library reads the file before its first state text
        if not outcome.result and not outcome.states:
            raise Error(f"{what} failed: the library could not read the image it was given")
        _jobs.check(outcome, what)

    def clear(self, fill: int = 0xFF, verify: bool = True, *,
              progress: Optional[ProgressFunction] = None) -> None:
        """Fills the EEPROM with the byte `fill`, then with `verify` reads it
        back and compares."""
        byte = _index(fill, "fill")
        if not 0 <= byte <= 0xFF:
            raise ValueError(f"fill is a byte, 0 to 255, not {byte}")
        with _exclusive():
            lib = self._lib()
            outcome = _jobs.run(lambda: lib.zelClear(byte, 0, _flag(verify)), progress)
            _jobs.check(outcome, f"clearing with 0x{byte:02x}")

    def detect(self) -> _detect.Detection:
        """What answers on the bus, from reads alone (the geometry in use plays
        no part): the device addresses, one or two address bytes, the size and
        the parts of the table that read like that. Writes nothing."""
        with _exclusive():
            return _detect.detect(self._lib(), _parts.TABLE)

    # -- checks and the geometry header ------------------------------------

    def check_size(self) -> bool:
        """True when the last byte of the configured size can be changed and
        put back (the EEPROM is left as it was)."""
        with _exclusive():
            return bool(self._lib().zelCheckSize())

    def read_header(self) -> bool:
        """Takes the geometry from the header stored in the EEPROM (repairing
        a header whose two copies disagree). True when a valid header was
        found; otherwise the size is unknown afterwards."""
        with _exclusive():
            return bool(self._lib().zelReadHeader())

    def write_header(self) -> None:
        """Stores the geometry in use now as the EEPROM's geometry header."""
        with _exclusive():
            lib = self._lib()
            self._known_size()
            if not lib.zelWriteHeader():
                raise LinkError("writing the geometry header failed: the EEPROM stopped answering "
                                "or the link was lost")


def _page_size(page_bytes: Any) -> int:
    size = _index(page_bytes, "page_size")
    if size not in PAGE_SIZES:
        raise ValueError(f"page_size is 0 (byte writes) or a power of two from 2 to 256, not {size}")
    return size


def _set_page_size(lib: _native.Library, page_bytes: Any) -> None:
    global _page_bytes
    size = _page_size(page_bytes)
    if not lib.zelSetPageWrite(size):
        raise BusyError(f"the library refused page size {size}: a job is running")
    _page_bytes = size


def _use_batches(lib: _native.Library) -> None:
    """A whole bus transaction per round trip where the transport can take
    it; a library without batches drives it access by access."""
    try:
        lib.zelSetBatching(1)
    except LibraryError:
        pass


def _open_link(lib: _native.Library, link: Optional[str], part: Optional[str], transport: Optional[str],
               port: Optional[int], lines: Tuple[int, int, int], pio_given: bool) -> str:
    """Opens the link; returns its description for texts."""
    geometry = _link.find_part(part)[1] if part is not None else _link.PartGeometry(0, 0)
    if link is not None:
        if not isinstance(link, str):
            raise TypeError(f"link must be a configuration string, not {type(link).__name__}")
        description = f"the link {link!r}"
        opened = lib.zelInitTrans(_native.narrow(link), 0, *geometry)
    elif transport is not None:
        kind = _link.transport_kind(transport)
        number = -1 if port is None else _index(port, "port")  # -1: no port given
        if port is not None and number < 0:
            raise ValueError(f"port must be 0 or more, not {number}")
        description = f"the {transport.upper()} link" + (f" on port {number}" if port is not None else "")
        opened = lib.zelInit(kind, number, 0, *geometry)
    else:
        name = _link.find_part(part)[0] if part is not None else _link.DEFAULT_VIRTUAL_PART
        geometry = _link.PARTS[name]
        config, description = _link.virtual_config(name, lines if pio_given else None)
        opened = lib.zelInitTrans(_native.narrow(config), 0, *geometry)
    if not opened:
        raise LinkError(f"could not open {description}, or no EEPROM answered: check the link, "
                        "the PIO lines (pio=) and the wiring")
    return description


def open(link: Optional[str] = None, part: Optional[str] = None, *, transport: Optional[str] = None,
         port: Optional[int] = None, pio: Optional[Sequence[int]] = None,
         page_size: Optional[int] = None) -> Eeprom:
    """Opens the link and finds the EEPROM.

    link: a transport configuration string, handed to the transport as it
    stands (zelInitTrans); transport ('lpt' or 'usb') with port: a standard
    link (zelInit); neither: the virtual target, with a per-user backing file
    for the part (the one zelprog uses; default part 24c256).
    part: the EEPROM's type (24c01 ... 24c1025); without it the size comes
    from the geometry header stored in the EEPROM, if it holds one.
    pio: (clock, data, write-protect) PIO lines, default (6, 7, 8).
    page_size: see Eeprom.page_size.

    One link per process: BusyError while another is open."""
    return _open(link, part, transport, port, pio, page_size, True)


def detect(link: Optional[str] = None, part: Optional[str] = None, *, transport: Optional[str] = None,
           port: Optional[int] = None, pio: Optional[Sequence[int]] = None) -> _detect.Detection:
    """Opens the link as open() does (part= only picks the virtual target's
    backing file), finds out from bus reads alone what answers (see
    Eeprom.detect) and closes it again. Reads no geometry header and writes
    nothing."""
    with _open(link, part, transport, port, pio, None, False) as eeprom:
        return eeprom.detect()


def _open(link: Optional[str], part: Optional[str], transport: Optional[str], port: Optional[int],
          pio: Optional[Sequence[int]], page_size: Optional[int], header: bool) -> Eeprom:
    global _current
    if link is not None and transport is not None:
        raise ValueError("give either link or transport/port, not both")
    if port is not None and transport is None:
        raise ValueError("port needs transport='lpt' or 'usb'")
    lines = _link.pio_lines(pio)
    if page_size is not None:
        _page_size(page_size)
    with _exclusive():
        if _current is not None:
            raise BusyError(f"{_current._description} is open: close it first (one link per process)")
        lib = _native.library()
        lib.zelSetPioLines(*lines)
        _use_batches(lib)
        description = _open_link(lib, link, part, transport, port, lines, pio is not None)
        try:
            if header and part is None and (link is not None or transport is not None):
                lib.zelReadHeader()  # the size comes from the EEPROM's own geometry header
            if page_size is not None or _page_bytes != 0:
                _set_page_size(lib, 0 if page_size is None else page_size)
        except BaseException:
            lib.zelClose()
            raise
        _current = Eeprom(description)
        return _current


@atexit.register
def _close_at_exit() -> None:
    eeprom = _current
    if eeprom is not None:
        with contextlib.suppress(Exception):
            eeprom.close()
