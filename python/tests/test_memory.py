"""Bytes in and out: read, write, slices, refused ranges, compare failures and
a lost link."""

from pathlib import Path

import pytest
from conftest import Recorder, assert_runs, link, pattern

import zelapi


def test_bytes_round_trip_through_the_eeprom(ee: zelapi.Eeprom, backing: Path) -> None:
    data = pattern(ee.size, seed=3)
    ee.write(data)
    assert backing.read_bytes() == data
    assert ee.read() == data
    assert bytes(ee) == data


def test_offsets_at_the_end_of_the_device(ee: zelapi.Eeprom, backing: Path) -> None:
    size = ee.size
    ee.write(b"\x11\x22\x33", size - 3)
    ee[-4] = 0x44
    assert ee.read(size - 4) == b"\x44\x11\x22\x33"
    assert ee.read(size - 1, 1) == b"\x33"
    assert ee.read(size) == b"" and ee.read(size, 0) == b""
    assert ee[-1] == 0x33 and ee[size - 2] == 0x22
    assert ee[size - 2:] == ee[-2:] == ee[size - 2:size + 100] == b"\x22\x33"
    assert backing.read_bytes()[-4:] == b"\x44\x11\x22\x33"


@pytest.mark.parametrize("call", [
    lambda ee, n: ee.read(n + 1),
    lambda ee, n: ee.read(0, n + 1),
    lambda ee, n: ee.read(n - 1, 2),
    lambda ee, n: ee.read(-1),
    lambda ee, n: ee.read(0, -1),
    lambda ee, n: ee.write(b"ab", n - 1),
    lambda ee, n: ee.write(b"", n + 1),
    lambda ee, n: ee.write(b"a", -1),
    lambda ee, n: ee.write(bytes(n + 1)),
    lambda ee, n: ee.__setitem__(slice(0, 4), b"abc"),
    lambda ee, n: ee.__setitem__(slice(n - 1, n + 1), b"ab"),
    lambda ee, n: ee.__getitem__(slice(0, 8, 2)),
    lambda ee, n: ee.__setitem__(0, 256),
    lambda ee, n: ee.clear(0x100),
])
def test_refused_ranges_raise_value_error_and_write_nothing(call, ee: zelapi.Eeprom, backing: Path) -> None:
    before = backing.read_bytes()
    with pytest.raises(ValueError):
        call(ee, ee.size)
    assert backing.read_bytes() == before


@pytest.mark.parametrize("call, says", [
    (lambda ee: ee.read(-1, 4), "offset -1 is negative"),
    (lambda ee: ee.write(b"ab", -2), "offset -2 is negative"),
    (lambda ee: ee.read(0x10, -4), "length -4 is negative"),
])
def test_a_negative_offset_or_length_is_named_as_given(call, says: str, ee: zelapi.Eeprom) -> None:
    with pytest.raises(ValueError, match=says):
        call(ee)


@pytest.mark.parametrize("index", [lambda n: n, lambda n: -n - 1])
def test_an_index_beyond_the_device_raises_index_error(index, ee: zelapi.Eeprom) -> None:
    with pytest.raises(IndexError):
        ee[index(ee.size)]


def test_slices_read_and_write_verified(ee: zelapi.Eeprom, backing: Path) -> None:
    ee[0x20:0x24] = b"SN01"
    assert ee[0x20:0x24] == b"SN01" and ee[0x21] == ord("N")
    assert backing.read_bytes()[0x20:0x24] == b"SN01"
    ee[0x22:0x22] = b""
    assert ee[0x24:0x20] == b""


def test_a_write_that_does_not_read_back_raises_verify_error_with_each_byte(part: str, backing: Path) -> None:
    # bit 0 of 0x11 and bits 7..4 of 0x13 read back inverted
    with zelapi.open(link(part, backing, "SIMFAULT=flip:0x11/0x01,flip:0x13/0xf0"), part) as ee:
        data = bytes(range(0x40, 0x50))
        with pytest.raises(zelapi.VerifyError) as caught:
            ee.write(data, 0x10)
        assert caught.value.mismatches == [(0x11, 0x41 ^ 0x01, 0x41), (0x13, 0x43 ^ 0xF0, 0x43)]
        assert caught.value.messages == ["ERROR: byte 0x11 read as 0x40 instead of 0x41",
                                         "ERROR: byte 0x13 read as 0xb3 instead of 0x43"]
        assert isinstance(caught.value, zelapi.Error)
        ee.write(data, 0x10, verify=False)  # the cells hold the data: only the read-back is off
    assert backing.read_bytes()[0x10:0x20] == data


def test_a_lost_link_raises_link_error(part: str, backing: Path, tmp_path: Path) -> None:
    with zelapi.open(link(part, backing, "SIMFAULT=lost:4000"), part) as ee:
        with pytest.raises(zelapi.LinkError):
            ee.read()
        with pytest.raises(zelapi.LinkError):
            ee.write(b"\x01\x02", 0x10)
    with zelapi.open(link(part, tmp_path / "fresh.bin"), part) as ee:
        assert ee.read(0, 2) == b"\xff\xff"


@pytest.mark.parametrize("call", [
    lambda ee: ee.write(b"\x5a", 0xF0),
    lambda ee: ee.write(b"\x5a", 0xF0, verify=False),
])
def test_a_write_cycle_that_does_not_end_says_so(call, backing: Path) -> None:
    with zelapi.open(link("24c02", backing, "SIMTWR=1000"), "24c02") as ee:
        with pytest.raises(zelapi.LinkError, match="did not finish its write cycle within 20 ms"):
            call(ee)


@pytest.mark.parametrize("call, states", [
    (lambda ee, p: ee.read(progress=p), ["Reading..."]),
    (lambda ee, p: ee.write(pattern(ee.size), progress=p), ["Writing...", "Verifying..."]),
    (lambda ee, p: ee.write(pattern(ee.size), verify=False, progress=p), ["Writing..."]),
])
def test_progress_runs_from_0_to_100_in_each_state(call, states: list, ee: zelapi.Eeprom) -> None:
    recorder = Recorder()
    call(ee, recorder)
    assert_runs(recorder, states)
