"""The table of parts (parts.tsv beside this file): the same rows that
zelprog, its GUI and the virtual target read. See the file's comments for the
meaning of each column."""

import os
from typing import Callable, Dict, List, NamedTuple, Optional, Tuple

TABLE_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "parts.tsv")

COLUMNS = ("name", "aliases", "bytes", "addr_bytes", "block_bits", "pins", "page", "read_rollover", "twr_ms",
           "wp", "rom", "id", "unconfirmed", "sources")


Parser = Callable[[str], int]


class Varying(NamedTuple):
    """A cell that vendors may fill differently: the strictest value first
    (booleans as 0 and 1)."""
    strict: int
    by_vendor: Tuple[Tuple[str, int], ...]

    def value_for(self, vendor: Optional[str] = None) -> int:
        return dict(self.by_vendor).get(vendor or "", self.strict)

    def values(self) -> List[int]:
        return [self.strict] + [value for _, value in self.by_vendor]


class Part(NamedTuple):
    name: str  # "24c256"
    aliases: Tuple[str, ...]
    size_bits: int  # the part holds 2**size_bits bytes
    block_bits: int  # 4: device-address bit 0x08, 2: 0x04, 1: 0x02 carry the top address bits
    address_bytes: int
    pins: Varying  # device-address bits compared with the chip-address pins (a mask)
    page: Varying  # bytes of a page write
    reads_roll_at_block_end: Varying  # 1: a sequential read stays inside each block
    write_cycle_ms: Varying  # the longest write cycle
    ack_while_protected: Varying  # 1: data bytes under write-protect are acknowledged and dropped
    rom: Optional[Tuple[int, int]]  # always write-protected, inclusive
    ids: Tuple[Tuple[str, int], ...]  # ("eui48", 0xFA), ...
    unconfirmed: Tuple[str, ...]  # columns not read in a datasheet
    sources: str

    @property
    def bytes(self) -> int:
        return 1 << self.size_bits

    @property
    def page_bytes(self) -> int:
        """The smallest page sold under the name."""
        return min(self.page.values())

    @property
    def page_bytes_max(self) -> int:
        return max(self.page.values())


class TableError(ValueError):
    pass


def _number(text: str) -> int:
    return int(text, 16) if text.lower().startswith("0x") else int(text, 10)


def _bit_mask(text: str, letter: str, low: int) -> int:
    """'b3b2b1' (device-address bits) or 'A2A1A0' (pin Ax is bit x + 1)."""
    if text == "-":
        return 0
    if len(text) % 2 or any(text[i] != letter for i in range(0, len(text), 2)):
        raise ValueError(text)
    numbers = [int(text[i + 1]) for i in range(0, len(text), 2)]
    if numbers != sorted(set(numbers), reverse=True) or not all(low <= n <= low + 2 for n in numbers):
        raise ValueError(text)
    return sum(1 << (n + 1 - low) for n in numbers)


def _pins(text: str) -> int:
    return _bit_mask(text, "A", 0)


def _power_of_two(low: int, high: int) -> Parser:
    def parse(text: str) -> int:
        value = _number(text)
        if not low <= value <= high or value & (value - 1):
            raise ValueError(text)
        return value
    return parse


def _in_range(low: int, high: int) -> Parser:
    def parse(text: str) -> int:
        value = _number(text)
        if not low <= value <= high:
            raise ValueError(text)
        return value
    return parse


def _choice(false: str, true: str) -> Parser:
    def parse(text: str) -> int:
        if text not in (false, true):
            raise ValueError(text)
        return int(text == true)
    return parse


def _varying(text: str, parse: Parser) -> Varying:
    words = text.split()
    if not words:
        raise ValueError(text)
    by_vendor = []
    for word in words[1:]:
        vendor, equals, value = word.partition("=")
        if not equals or not vendor.isalpha() or not vendor.islower():
            raise ValueError(word)
        by_vendor.append((vendor, parse(value)))
    return Varying(parse(words[0]), tuple(by_vendor))


def _names(text: str) -> Tuple[str, ...]:
    if text == "-":
        return ()
    names = text.split(",")
    if not all(names):
        raise ValueError(text)
    return tuple(name.lower() for name in names)


def _rom(text: str, size: int) -> Optional[Tuple[int, int]]:
    if text == "-":
        return None
    first, last = (_number(end) for end in text.split("-"))
    if not first <= last < size:
        raise ValueError(text)
    return first, last


def _ids(text: str, size: int) -> Tuple[Tuple[str, int], ...]:
    if text == "-":
        return ()
    ids = []
    for word in text.split():
        kind, at, address = word.partition("@")
        if not at or kind not in ("eui48", "eui64", "serial") or not 0 <= _number(address) < size:
            raise ValueError(word)
        ids.append((kind, _number(address)))
    return tuple(ids)


def _row(cells: Dict[str, str]) -> Part:
    column = "name"
    try:
        name = cells["name"]
        if name in ("", "-"):
            raise ValueError(name)
        column = "aliases"
        aliases = _names(cells["aliases"])
        column = "bytes"
        size = _power_of_two(1 << 7, 1 << 24)(cells["bytes"])
        size_bits = size.bit_length() - 1
        column = "addr_bytes"
        address_bytes = _in_range(1, 2)(cells["addr_bytes"])
        column = "block_bits"
        block_mask = _bit_mask(cells["block_bits"], "b", 1)
        unfolded = size_bits - bin(block_mask).count("1")
        if not 8 * (address_bytes - 1) < unfolded <= 8 * address_bytes:
            raise ValueError(cells["block_bits"])
        column = "pins"
        pins = _varying(cells["pins"], _pins)
        if any(mask & block_mask for mask in pins.values()):
            raise ValueError(cells["pins"])
        column = "page"
        page = _varying(cells["page"], _power_of_two(1, 256))
        column = "read_rollover"
        rollover = _varying(cells["read_rollover"], _choice("memory", "block"))
        if block_mask == 0 and any(rollover.values()):
            raise ValueError(cells["read_rollover"])
        column = "twr_ms"
        write_cycle = _varying(cells["twr_ms"], _in_range(1, 100))
        column = "wp"
        protected = _varying(cells["wp"], _choice("nak", "ack"))
        column = "rom"
        rom = _rom(cells["rom"], size)
        column = "id"
        ids = _ids(cells["id"], size)
        column = "unconfirmed"
        unconfirmed = () if cells["unconfirmed"] == "-" else tuple(cells["unconfirmed"].split(","))
        if not set(unconfirmed) <= set(COLUMNS):
            raise ValueError(cells["unconfirmed"])
        column = "sources"
        if cells["sources"] in ("", "-"):
            raise ValueError(cells["sources"])
    except ValueError as error:
        raise TableError(f"bad {column} {cells[column]!r}") from error
    return Part(name.lower(), aliases, size_bits, block_mask >> 1, address_bytes, pins, page, rollover,
                write_cycle, protected, rom, ids, unconfirmed, cells["sources"])


def parse_table(text: str) -> Dict[str, Part]:
    """The parts of a table's text by lower-case name, in the file's order."""
    header: Optional[List[str]] = None
    parts: Dict[str, Part] = {}
    names = set()
    for number, line in enumerate(text.splitlines(), 1):
        if not line or line.startswith("#"):
            continue
        cells = line.split("\t")
        if header is None:
            if sorted(cells) != sorted(COLUMNS):
                raise TableError(f"line {number}: the header must name the columns {', '.join(COLUMNS)}")
            header = cells
            continue
        if len(cells) != len(header):
            raise TableError(f"line {number}: {len(cells)} cells, the header has {len(header)}")
        try:
            part = _row(dict(zip(header, cells)))
        except TableError as error:
            raise TableError(f"line {number}: {error}") from None
        for name in (part.name,) + part.aliases:
            if name in names:
                raise TableError(f"line {number}: the name {name} stands in the table twice")
            names.add(name)
        parts[part.name] = part
    if not parts:
        raise TableError("the table holds no parts")
    return parts


def load_table(path: str = TABLE_FILE) -> Dict[str, Part]:
    with open(path, encoding="utf-8") as file:
        return parse_table(file.read())


TABLE: Dict[str, Part] = load_table()


def find(name: str) -> Optional[Part]:
    """A part by name or alias, any case."""
    key = name.lower()
    if key in TABLE:
        return TABLE[key]
    return next((part for part in TABLE.values() if key in part.aliases), None)
