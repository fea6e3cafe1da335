"""What is on the bus, from bus reads alone (zelProbeDevice, zelReadAtDevice):
the device addresses that answer, one or two address bytes, the size from
where addresses alias, and the parts of the table that read like that. No
read can start a write: no stop ever follows a sent byte. zelprog detect
reads and decides the same way."""

from ctypes import c_uint8
from typing import Dict, List, NamedTuple, Optional, Tuple

from . import _native, _parts
from .errors import LinkError

FIRST_DEVICE = 0xA0
DEVICES = 8  # 0xa0, 0xa2, ... 0xae
SAMPLE_BYTES = 32  # bytes compared to tell two addresses apart
TELLING_VALUES = 8  # distinct values in a sample before equal samples mean the same cells
SMALLEST_WINDOW = 0x80  # the smallest part holds 128 bytes


class Detection(NamedTuple):
    answering: Tuple[int, ...]  # device addresses that acknowledge
    address_bytes: int  # 0: the reads cannot tell
    bytes: int  # 0: the reads cannot tell
    candidates: Tuple[str, ...]  # parts of the table that read like this
    sure: bool  # the reads tell the size and one part of the table
    note: str  # what the reads could not tell, and what to do


class _Seen(NamedTuple):
    device: int  # 0..7
    base: bytes  # the bytes at its address 0
    window: int  # bytes it reaches before a read returns its address 0; 0: unknown


def _address(n: int) -> int:
    return FIRST_DEVICE + 2 * n


def _read(lib: _native.Library, device: int, address: int, address_bytes: int) -> Optional[bytes]:
    sent = (c_uint8 * 2)((address >> 8 if address_bytes == 2 else address) & 0xFF, address & 0xFF)
    buffer = (c_uint8 * SAMPLE_BYTES)()
    if not lib.zelReadAtDevice(device, sent, address_bytes, buffer, SAMPLE_BYTES):
        return None
    return bytes(buffer)


def _must_read(lib: _native.Library, device: int, address: int, address_bytes: int) -> bytes:
    sample = _read(lib, device, address, address_bytes)
    if sample is None:
        raise LinkError(f"a read at device address 0x{device:02x} failed while detecting: check the wiring")
    return sample


def _telling(sample: bytes) -> bool:
    return len(set(sample)) >= TELLING_VALUES


def _address_bytes(lib: _native.Library, device: int) -> int:
    """A read at 1 is the read at 0 one byte along only with the part's own
    count of address bytes (see zelprog's detect). 0: too plain to tell."""
    read = False
    for count in (2, 1):
        at0, at1 = _read(lib, device, 0, count), _read(lib, device, 1, count)
        if at0 is None or at1 is None:
            continue
        read = True
        if _telling(at0) and at0[1:] == at1[:-1]:
            return count
    if not read:
        raise LinkError(f"reads at device address 0x{device:02x} failed while detecting: check the wiring")
    return 0


def _window(lib: _native.Library, device: int, address_bytes: int, base: bytes) -> int:
    space = 0x10000 if address_bytes == 2 else 0x100
    window = SMALLEST_WINDOW
    while window < space:
        if _must_read(lib, device, window, address_bytes) == base:
            return window
        window <<= 1
    return space


def _answering(pin_mask: int, pins: int) -> List[int]:
    chip = (pins << 1) & pin_mask
    return [n for n in range(DEVICES) if _address(n) & pin_mask == chip]


def _reads_like(part: _parts.Part, seen: List[_Seen]) -> bool:
    block_mask = part.block_bits << 1
    window = 1 << min(part.size_bits - bin(block_mask).count("1"), 8 * part.address_bytes)
    for a in seen:
        if a.window and a.window != window:
            return False
        for b in seen:
            one_block = _address(a.device) & block_mask == _address(b.device) & block_mask
            same = a.base == b.base
            if (same and a.window and not one_block) or (not same and one_block):
                return False
    return True


def _matches(part: _parts.Part, answering: List[int], address_bytes: int, seen: List[_Seen]) -> bool:
    if address_bytes and part.address_bytes != address_bytes:
        return False
    for pin_mask in part.pins.values():
        for pins in range(8):
            if _answering(pin_mask, pins) == answering:
                return _reads_like(part, seen)
    return False


def _note(candidates: Tuple[str, ...], size: int, sure: bool) -> str:
    if not candidates:
        return "no part of the table reads like this (several EEPROMs on the bus?)"
    if not size:
        return ("the EEPROM reads too plainly (erased or uniform) for reads to tell its size or these parts "
                "apart: 'zelprog --part PART check-size' (which writes and restores the last byte) makes sure")
    if not sure:
        return (f"reads cannot tell these parts apart: {', '.join(candidates)} (they differ in what reads do "
                "not show: the page, the write cycle or factory IDs)")
    return ""


def detect(lib: _native.Library, table: Dict[str, _parts.Part]) -> Detection:
    answering = [n for n in range(DEVICES) if lib.zelProbeDevice(_address(n))]
    devices = tuple(_address(n) for n in answering)
    if not answering:
        return Detection(devices, 0, 0, (), False, "no device address answers")
    address_bytes = _address_bytes(lib, _address(answering[0]))
    seen: List[_Seen] = []
    if address_bytes:
        for n in answering:
            base = _must_read(lib, _address(n), 0, address_bytes)
            window = _window(lib, _address(n), address_bytes, base) if _telling(base) else 0
            seen.append(_Seen(n, base, window))
    candidates = tuple(name for name, part in table.items() if _matches(part, answering, address_bytes, seen))
    size = 0
    if seen and all(s.window for s in seen):
        size = seen[0].window * len({s.base for s in seen})
    sure = size != 0 and len(candidates) == 1
    return Detection(devices, address_bytes, size, candidates, sure, _note(candidates, size, sure))
