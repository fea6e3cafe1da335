"""Image files as zelprog reads and writes them: the text image, plain
binary, Intel HEX and Motorola S-record, with zelprog's rules and texts.

A file whose records carry their addresses names some cells of the EEPROM;
it is read into runs of consecutive cells. A binary file is the whole
EEPROM, byte k of the file being cell k."""

import os
from contextlib import contextmanager
from typing import Callable, Dict, Iterator, List, Optional, Tuple, Union

from .errors import ImageError

ERASED = 0xFF  # the state of an erased cell
FORMATS = ("text", "bin", "ihex", "srec")

Run = Tuple[int, bytes]
"""Cells named by a file: `bytes` from EEPROM address `address` on."""

_SUFFIXES = {".bin": "bin", ".hex": "ihex", ".ihex": "ihex", ".srec": "srec", ".s19": "srec",
             ".s28": "srec", ".s37": "srec"}
_BLANKS = b" \t\r\v\f"
_HEX_DIGITS = frozenset(b"0123456789abcdefABCDEF")
PathType = Union[str, "os.PathLike[str]"]


def format_of(path: PathType, format: Optional[str]) -> str:
    """`format` when given (any case), else the one the file name says:
    .bin binary, .hex and .ihex Intel HEX, .srec, .s19, .s28 and .s37
    S-records, any other name the text image."""
    if format is not None:
        if not isinstance(format, str) or format.lower() not in FORMATS:
            raise ValueError(f"format is one of {', '.join(FORMATS)}, not {format!r}")
        return format.lower()
    name = os.fsdecode(os.fspath(path)).lower()
    return next((kind for suffix, kind in _SUFFIXES.items() if name.endswith(suffix)), "text")


def _lines(data: bytes) -> Iterator[Tuple[int, bytes]]:
    """(number from 1, line) with its end ('\\n', a '\\r' before it) cut."""
    if not data:
        return
    pieces = data.split(b"\n")
    if data.endswith(b"\n"):
        pieces.pop()
    for number, line in enumerate(pieces, 1):
        yield number, line[:-1] if line.endswith(b"\r") else line


def _filled_lines(data: bytes, trailing: bytes) -> Iterator[Tuple[int, bytes]]:
    """The lines that hold more than `trailing` characters, with their
    numbers and without those characters at their end."""
    for number, line in _lines(data):
        line = line.rstrip(trailing)
        if line:
            yield number, line


@contextmanager
def _on_line(number: int) -> Iterator[None]:
    """A record's fault, told with the number of its line."""
    try:
        yield
    except ValueError as error:
        raise ValueError(f"line {number}: {error}") from None


def _is_hex(text: bytes) -> bool:
    return bool(text) and all(c in _HEX_DIGITS for c in text)


def _beyond(address: int, size: int) -> str:
    return f"data at address 0x{address:x} lies beyond the end of the {size}-byte EEPROM"


class _Cells:
    """The cells named so far, by address."""

    def __init__(self, size: int) -> None:
        self.size = size
        self.named: Dict[int, int] = {}

    def store(self, address: int, data: bytes) -> None:
        for i, byte in enumerate(data):
            if address + i >= self.size:
                raise ValueError(_beyond(address + i, self.size))
            self.named[address + i] = byte

    def runs(self) -> List[Run]:
        runs: List[Tuple[int, bytearray]] = []
        for address in sorted(self.named):
            if not runs or runs[-1][0] + len(runs[-1][1]) != address:
                runs.append((address, bytearray()))
            runs[-1][1].append(self.named[address])
        return [(address, bytes(cells)) for address, cells in runs]


# -- the text image: "@index  word", word i holding cells 2i (low) and 2i + 1

def _hex_token(rest: bytes, limit: int) -> Optional[Tuple[int, bytes]]:
    """A hexadecimal token after blanks, up to the next blank, and what
    follows it; None when it is empty, holds another character or exceeds
    `limit`."""
    rest = rest.lstrip(_BLANKS)
    end = next((i for i, c in enumerate(rest) if c in _BLANKS), len(rest))
    token = rest[:end]
    if not _is_hex(token) or int(token, 16) > limit:
        return None
    return int(token, 16), rest[end:]


def _text_records(data: bytes, cells: _Cells) -> bool:
    """Stores every record; False when there was none. Lines that do not
    begin with '@' are not records."""
    words = cells.size // 2
    records = 0
    for number, line in _lines(data):
        if not line.startswith(b"@"):
            continue
        index = _hex_token(line[1:], 0xFFFFFFFF)
        if index is None:
            raise ValueError(f"line {number}: the word index after '@' is not a hexadecimal number")
        value = _hex_token(index[1], 0xFFFF)
        if value is None or value[1].strip(_BLANKS):
            raise ValueError(f"line {number}: expected \"@index  value\" with a value of at most four "
                             "hexadecimal digits")
        if index[0] >= words:
            raise ValueError(f"line {number}: word 0x{index[0]:x} lies beyond the end of the "
                             f"{cells.size}-byte EEPROM")
        cells.store(2 * index[0], bytes([value[0] & 0xFF, value[0] >> 8]))
        records += 1
    return records > 0


def _text(data: bytes, cells: _Cells) -> None:
    if not _text_records(data, cells):
        raise ValueError("holds no image records (lines of the form \"@0000  ffff\")")


# -- Intel HEX: ":" count offset(2) type data checksum, in hexadecimal pairs

def _ihex_record(line: bytes) -> Tuple[int, int, bytes]:
    """(type, offset, data) of a record whose checksum holds."""
    if not line.startswith(b":"):
        raise ValueError("a record must begin with ':'")
    digits = line[1:]
    if len(digits) % 2 != 0 or len(digits) < 10:
        raise ValueError("a record holds an even number of hexadecimal digits, at least 10")
    for i in range(0, len(digits), 2):
        if not _is_hex(digits[i:i + 2]):
            raise ValueError(f"'{digits[i:i + 2].decode('latin-1')}' is not a hexadecimal byte")
    raw = bytes.fromhex(digits.decode("ascii"))
    if len(raw) != raw[0] + 5:
        raise ValueError(f"the byte count says {raw[0]} data bytes but the record holds {len(raw) - 5}")
    expected = -sum(raw[:-1]) & 0xFF
    if raw[-1] != expected:
        raise ValueError(f"checksum is 0x{raw[-1]:x}, the record's bytes give 0x{expected:x}")
    return raw[3], raw[1] << 8 | raw[2], raw[4:-1]


def _ihex(data: bytes, cells: _Cells) -> None:
    base, segmented = 0, False  # type 02: the 16-bit offset wraps inside the segment
    for number, line in _filled_lines(data, b" \t\r"):
        with _on_line(number):
            kind, offset, payload = _ihex_record(line)
            if kind == 0x01:
                return
            if kind == 0x00:
                for i, byte in enumerate(payload):
                    cells.store(base + ((offset + i) & 0xFFFF if segmented else offset + i), bytes([byte]))
            elif kind in (0x02, 0x04):
                if len(payload) != 2:
                    raise ValueError("an address record carries exactly 2 data bytes")
                segmented = kind == 0x02
                base = (payload[0] << 8 | payload[1]) << (4 if segmented else 16)
            elif kind not in (0x03, 0x05):  # start addresses carry nothing for the EEPROM
                raise ValueError(f"record type 0x{kind:x} is not one of 00, 01, 02, 03, 04, 05")
    raise ValueError("no end-of-file record (:00000001FF): the file is cut short")


# -- S-records: "S" type count address(2..4) data checksum

_SREC_ADDRESS_BYTES = {ord(t): n for n, types in ((2, "0159"), (3, "268"), (4, "37")) for t in types}


def _srec_record(line: bytes) -> Tuple[int, int, bytes]:
    """(type digit, address, data) of a record whose checksum holds."""
    if len(line) < 2 or line[0] != ord("S") or line[1] not in _SREC_ADDRESS_BYTES:
        raise ValueError("a record begins with S0..S3 or S5..S9")
    digits = line[2:]
    for i in range(0, len(digits) - 1, 2):
        if not _is_hex(digits[i:i + 2]):
            raise ValueError(f"'{digits[i:i + 2].decode('latin-1')}' is not a hexadecimal byte")
    address_bytes = _SREC_ADDRESS_BYTES[line[1]]
    raw = bytes.fromhex(digits.decode("ascii")) if len(digits) % 2 == 0 else b""
    if not raw or len(raw) != raw[0] + 1 or raw[0] < address_bytes + 1:
        raise ValueError("the byte count does not match the record's length")
    expected = ~sum(raw[:-1]) & 0xFF
    if raw[-1] != expected:
        raise ValueError(f"checksum is 0x{raw[-1]:x}, the record's bytes give 0x{expected:x}")
    return line[1], int.from_bytes(raw[1:1 + address_bytes], "big"), raw[1 + address_bytes:-1]


def _srec(data: bytes, cells: _Cells) -> None:
    for number, line in _filled_lines(data, b" \t"):
        with _on_line(number):
            kind, address, payload = _srec_record(line)
            if kind in b"123":
                cells.store(address, payload)
        if kind >= ord("7"):
            return
    raise ValueError("no termination record (S7, S8 or S9): the file is cut short")


_READERS: Dict[str, Callable[[bytes, _Cells], None]] = {"text": _text, "ihex": _ihex, "srec": _srec}


def _binary(data: bytes, size: int, pad: bool) -> List[Run]:
    if not data:
        raise ValueError("holds no bytes")
    if len(data) > size:
        raise ValueError(f"holds {len(data)} bytes, more than the {size}-byte EEPROM")
    if len(data) < size and not pad:
        raise ValueError(f"holds {len(data)} bytes, fewer than the {size}-byte EEPROM "
                         "(pass pad=True to fill the rest with 0xff)")
    return [(0, data + bytes([ERASED]) * (size - len(data)))]


def decode(format: str, data: bytes, size: int, pad: bool = False) -> List[Run]:
    """The cells that `data`, a file of `format`, names on a `size`-byte
    EEPROM, as ascending runs; never none. A binary file smaller than the
    EEPROM is refused unless `pad` fills the rest erased. ValueError with
    zelprog's text (naming the line) for a file it refuses."""
    if format == "bin":
        return _binary(data, size, pad)
    cells = _Cells(size)
    _READERS[format](data, cells)
    runs = cells.runs()
    if not runs:
        raise ValueError("names no byte of the EEPROM")
    return runs


def read(path: PathType, data: bytes, size: int, format: Optional[str],
         pad: bool = False) -> List[Run]:
    """decode() of the file `path` that holds `data`; ImageError that names
    the file and its format."""
    kind = format_of(path, format)
    try:
        return decode(kind, data, size, pad)
    except ValueError as error:
        raise ImageError(f"'{os.fsdecode(os.fspath(path))}' ({kind}): {error}") from None


# -- writing -------------------------------------------------------------

def _ihex_line(kind: int, offset: int, data: bytes) -> str:
    raw = bytes([len(data), offset >> 8, offset & 0xFF, kind]) + data
    return ":" + (raw + bytes([-sum(raw) & 0xFF])).hex().upper() + "\n"


def _srec_line(kind: str, address: int, data: bytes) -> str:
    address_bytes = _SREC_ADDRESS_BYTES[ord(kind)]
    raw = bytes([address_bytes + len(data) + 1]) + address.to_bytes(address_bytes, "big") + data
    return "S" + kind + (raw + bytes([~sum(raw) & 0xFF])).hex().upper() + "\n"


def encode(format: str, image: bytes) -> bytes:
    """A whole EEPROM as a file of `format`, as zelprog's dump writes it."""
    if format == "bin":
        return bytes(image)
    if format == "text":
        return "".join(f"@{i // 2:04x}  {image[i] | image[i + 1] << 8:04x}\n"
                       for i in range(0, len(image) - 1, 2)).encode("ascii")
    if format == "ihex":
        lines = []
        for at in range(0, len(image), 16):
            if at % 0x10000 == 0 and at:
                lines.append(_ihex_line(0x04, 0, (at >> 16).to_bytes(2, "big")))
            lines.append(_ihex_line(0x00, at & 0xFFFF, image[at:at + 16]))
        return "".join(lines + [_ihex_line(0x01, 0, b"")]).encode("ascii")
    data = "1" if len(image) <= 0x10000 else "2" if len(image) <= 0x1000000 else "3"
    lines = [_srec_line("0", 0, b"")]
    lines += [_srec_line(data, at, image[at:at + 16]) for at in range(0, len(image), 16)]
    lines.append(_srec_line(chr(ord("9") - (ord(data) - ord("1"))), 0, b""))
    return "".join(lines).encode("ascii")
