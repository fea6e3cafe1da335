"""The text image reader against the table of cases that the library's codec
is held to (tests/data/text_image_cases.tsv): this reader is the strict one."""

import re
from pathlib import Path
from typing import Dict, List, NamedTuple, Optional, Tuple

import pytest

from zelapi import _images

TABLE = Path(__file__).resolve().parents[2] / "tests" / "data" / "text_image_cases.tsv"

# What the reader's message says, as the table names the fault.
FAULTS = [
    (re.compile(r"line (\d+): the word index"), "index"),
    (re.compile(r"line (\d+): expected"), "value"),
    (re.compile(r"line (\d+): word 0x[0-9a-f]+ lies beyond"), "beyond"),
    (re.compile(r"()holds no image records"), "empty"),
]


class Case(NamedTuple):
    name: str
    size: int
    text: bytes
    strict: str


def cases() -> List[Case]:
    rows = []
    for line in TABLE.read_text(encoding="ascii").splitlines():
        if line and not line.startswith("#"):
            name, size, text, _lenient, strict = line.split("\t")
            rows.append(Case(name, int(size), text.encode("ascii").decode("unicode_escape").encode("latin-1"),
                             strict))
    return rows


def outcome(field: str) -> Tuple[Optional[str], Dict[int, int]]:
    """(the fault with its line, or None; the cells of the words stored)."""
    fault = None
    cells: Dict[int, int] = {}
    for item in field.split():
        if "=" in item:
            index, value = (int(part, 16) for part in item.split("="))
            cells[2 * index], cells[2 * index + 1] = value & 0xFF, value >> 8
        elif item != "-":
            fault = item
    return fault, cells


def fault_of(message: str) -> str:
    for pattern, name in FAULTS:
        found = pattern.match(message)
        if found:
            return f"{name}@{found.group(1)}" if found.group(1) else name
    raise AssertionError(f"a message the table has no fault for: {message}")


@pytest.mark.parametrize("case", cases(), ids=lambda case: case.name)
def test_reads_as_the_table_says(case: Case) -> None:
    fault, cells = outcome(case.strict)
    if fault is not None:
        with pytest.raises(ValueError) as refused:
            _images.decode("text", case.text, case.size)
        assert fault_of(str(refused.value)) == fault
        return
    named = {address + i: byte for address, data in _images.decode("text", case.text, case.size)
             for i, byte in enumerate(data)}
    assert named == cells
