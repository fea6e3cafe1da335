"""The table of parts as the package reads it, against zelprog's reading of
the same file, and the refusals of a bad table."""

import json
import os
import subprocess

import pytest

import zelapi
from zelapi import _parts


@pytest.mark.skipif(not os.environ.get("ZELPROG"), reason="ZELPROG names no zelprog to compare with")
def test_the_package_and_zelprog_see_the_same_rows() -> None:
    command = [os.environ["ZELPROG"], "--json", "parts"]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    rows = [json.loads(line) for line in out.splitlines()]
    assert [row["name"] for row in rows] == list(zelapi.PART_TABLE)
    for row in rows:
        part = zelapi.PART_TABLE[row["name"]]
        assert row["aliases"] == list(part.aliases)
        assert (row["bytes"], row["sizeBits"], row["blockBits"], row["addressBytes"]) == \
            (part.bytes, part.size_bits, part.block_bits, part.address_bytes)
        assert (row["pageBytes"], row["pageBytesMax"]) == (part.page_bytes, part.page_bytes_max)
        assert row["readsRollAtBlockEnd"] == bool(max(part.reads_roll_at_block_end.values()))
        assert row["writeCycleMs"] == max(part.write_cycle_ms.values())
        assert row["unconfirmed"] == bool(part.unconfirmed)
        assert row["sources"] == part.sources
        assert zelapi.PARTS[row["name"]] == (part.size_bits, part.block_bits)


HEADER = "\t".join(_parts.COLUMNS)
GOOD = "24C04\t-\t512\t1\tb1\tA2A1\t16\tmemory\t10\tack st=nak\t-\t-\t-\tST Doc ID 5067"


@pytest.mark.parametrize("old, new, error", [
    ("\t512\t", "\t500\t", "line 2: bad bytes"),
    ("\tb1\t", "\t-\t", "line 2: bad block_bits"),
    ("A2A1", "A2A0", "line 2: bad pins"),
    ("st=nak", "st=maybe", "line 2: bad wp"),
    ("24C04\t-", "24C04\t24c04", "line 2: the name 24c04 stands in the table twice"),
])
def test_a_bad_row_is_refused_naming_its_line(old: str, new: str, error: str) -> None:
    assert _parts.parse_table(f"{HEADER}\n{GOOD}\n")["24c04"].pins.strict == 0x0C
    with pytest.raises(_parts.TableError, match=error):
        _parts.parse_table(f"{HEADER}\n{GOOD.replace(old, new)}\n")


def test_vendor_names_open_their_part() -> None:
    assert zelapi._link.find_part("AT24CM02")[0] == "24cm02"
