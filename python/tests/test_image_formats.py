"""Image files in the formats zelprog reads: sparse files write only the cells
they name, refused files write nothing, dumps follow the file's name and
replace the file whole or not at all."""

import errno
import os
import stat
from pathlib import Path
from typing import Optional

import pytest
from conftest import fill_backing, link, pattern

import zelapi

# The same six cells in each format: 0x10..0x13 = 11 22 33 44, 0xf0..0xf1 = a5 5a.
IHEX = b":040010001122334442\n:0200F000A55A0F\n:00000001FF\n"
SREC = b"S0030000FC\nS1070010112233443E\r\nS10500F0A55A0B\nS9030000FC\n"
TEXT = b"a note first\n@0008  2211\n@0009  4433\n@0078  5aa5\n"
NAMED = {0x10: 0x11, 0x11: 0x22, 0x12: 0x33, 0x13: 0x44, 0xF0: 0xA5, 0xF1: 0x5A}


@pytest.mark.parametrize("name, contents, format", [
    ("c2.hex", IHEX, None),
    ("c2.srec", SREC, None),
    ("c2.s19", SREC, None),
    ("c2.img", TEXT, None),
    ("c2.dat", IHEX, "ihex"),
    ("c2.hex", SREC, "SREC"),
])
def test_a_sparse_image_writes_and_compares_only_the_cells_it_names(
        name: str, contents: bytes, format: Optional[str], ee: zelapi.Eeprom, backing: Path,
        tmp_path: Path) -> None:
    before = pattern(ee.size, seed=9)
    fill_backing(backing, before)
    image = tmp_path / name
    image.write_bytes(contents)
    ee.program(image, format=format)
    expected = bytearray(before)
    for at, byte in NAMED.items():
        expected[at] = byte
    assert backing.read_bytes() == bytes(expected)
    fill_backing(backing, b"\x00", 0x80)  # a cell the file does not name
    ee.verify(image, format=format)
    fill_backing(backing, b"\x00", 0x12)
    with pytest.raises(zelapi.VerifyError) as caught:
        ee.verify(image, format=format)
    assert caught.value.mismatches == [(0x12, 0x00, 0x33)]


@pytest.mark.parametrize("name, contents, says", [
    ("none.img", b"no records here\n", "holds no image records"),
    ("bad.img", b"@0000  1234\n@0001  zz12\n", "line 2: expected \"@index  value\""),
    ("bad.hex", IHEX.replace(b"334442", b"3344F3"), "line 1: checksum is 0xf3, the record's bytes give 0x42"),
    ("cut.hex", IHEX[:IHEX.index(b":00000001FF")], "no end-of-file record"),
    ("eof.hex", b":00000001FF\n", "names no byte of the EEPROM"),
    ("type.hex", b":00000006FA\n:00000001FF\n", "line 1: record type 0x6 is not one of"),
    ("cut.srec", SREC[:SREC.index(b"S9")], "no termination record"),
    ("count.srec", b"S10800F0A55A0B\nS9030000FC\n", "line 1: the byte count does not match"),
    ("beyond.srec", b"S1050FF0A55AFC\nS9030000FC\n", "line 1: data at address 0xff0 lies beyond the end"),
    ("empty.bin", b"", "holds no bytes"),
    ("short.bin", b"\x01\x02", "holds 2 bytes, fewer than the"),
])
def test_a_file_that_is_not_an_image_of_this_eeprom_is_refused_before_any_write(
        name: str, contents: bytes, says: str, backing: Path, tmp_path: Path) -> None:
    image = tmp_path / name
    image.write_bytes(contents)
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        fill_backing(backing, pattern(ee.size))
        for job in (ee.program, ee.verify):
            with pytest.raises(zelapi.ImageError) as caught:
                job(image)
            assert says in str(caught.value) and name in str(caught.value)
    assert backing.read_bytes() == pattern(256)


def test_a_short_binary_is_written_padded_only_when_asked(ee: zelapi.Eeprom, backing: Path,
                                                          tmp_path: Path) -> None:
    fill_backing(backing, pattern(ee.size))
    image = tmp_path / "short.bin"
    image.write_bytes(b"\x01\x02\x03")
    ee.program(image, pad=True)
    assert backing.read_bytes() == b"\x01\x02\x03" + b"\xff" * (ee.size - 3)


@pytest.mark.parametrize("name, format, begins", [
    ("out.bin", None, None),
    ("out.hex", None, b":10000000"),
    ("out.s28", None, b"S0030000FC\nS113"),
    ("out.img", None, b"@0000  "),
    ("out.dat", "ihex", b":10000000"),
])
def test_a_dump_is_written_in_the_format_its_name_says_and_programs_back(
        name: str, format: Optional[str], begins: Optional[bytes], backing: Path, tmp_path: Path) -> None:
    data = pattern(256, seed=4)
    out = tmp_path / name
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        fill_backing(backing, data)
        ee.dump(out, format=format)
        written = out.read_bytes()
        assert written == data if begins is None else written.startswith(begins)
        fill_backing(backing, b"\xff" * 256)
        ee.program(out, format=format)
    assert backing.read_bytes() == data


@pytest.mark.parametrize("fails", [False, True])
def test_a_dump_replaces_the_old_file_whole_or_not_at_all(
        fails: bool, ee: zelapi.Eeprom, backing: Path, tmp_path: Path,
        monkeypatch: pytest.MonkeyPatch) -> None:
    fill_backing(backing, pattern(ee.size, seed=2))
    out = tmp_path / "keep.bin"
    out.write_bytes(b"old backup")
    out.chmod(0o640)
    if fails:
        def full_disk(descriptor: int) -> None:
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))
        monkeypatch.setattr(os, "fsync", full_disk)
        with pytest.raises(zelapi.FileError) as caught:
            ee.dump(out)
        assert caught.value.errno == errno.ENOSPC and caught.value.filename == str(out)
        assert out.read_bytes() == b"old backup"
    else:
        ee.dump(out)
        assert out.read_bytes() == backing.read_bytes()
    assert stat.S_IMODE(out.stat().st_mode) == 0o640
    assert not list(tmp_path.glob(".keep.bin.*"))  # no new file left beside it


def test_a_dump_to_a_device_writes_into_it(ee: zelapi.Eeprom) -> None:
    ee.dump(os.devnull, format="bin")
    assert stat.S_ISCHR(os.stat(os.devnull).st_mode)


def test_an_unknown_format_name_is_refused(ee: zelapi.Eeprom, tmp_path: Path) -> None:
    with pytest.raises(ValueError):
        ee.program(tmp_path / "missing.img", format="elf")
