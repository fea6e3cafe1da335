"""The image jobs: program, verify, dump and clear, with their file errors."""

import errno
from pathlib import Path

import pytest
from conftest import Recorder, assert_runs, fill_backing, link, pattern, read_image, write_image

import zelapi


def test_program_verify_dump_round_trip(ee: zelapi.Eeprom, backing: Path, tmp_path: Path) -> None:
    data = pattern(ee.size, seed=5)
    image = tmp_path / "in.img"
    write_image(image, data)
    ee.program(image)
    assert backing.read_bytes() == data
    ee.verify(str(image))
    for verify in (False, True):
        out = tmp_path / f"out-{verify}.img"
        ee.dump(out, verify=verify)
        assert read_image(out, ee.size) == data


@pytest.mark.parametrize("corrupt, expected_mismatches", [
    ({0x31: 0x00}, lambda d: [(0x31, 0x00, d[0x31])]),
    ({0x30: 0x5A, 0x31: 0xA5}, lambda d: [(0x30, 0x5A, d[0x30]), (0x31, 0xA5, d[0x31])]),
    ({0x02: 0x00, -1: 0x00}, lambda d: [(0x02, 0x00, d[0x02]), (len(d) - 1, 0x00, d[-1])]),
])
def test_verify_names_every_corrupted_byte(corrupt: dict, expected_mismatches, ee: zelapi.Eeprom,
                                           backing: Path, tmp_path: Path) -> None:
    data = pattern(ee.size, seed=1)
    image = tmp_path / "in.img"
    write_image(image, data)
    ee.program(image)
    for at, byte in corrupt.items():
        fill_backing(backing, bytes([byte]), at % ee.size)
    with pytest.raises(zelapi.VerifyError) as caught:
        ee.verify(image)
    assert caught.value.mismatches == expected_mismatches(data)
    now = backing.read_bytes()
    words = sorted({(at % ee.size) // 2 for at in corrupt})
    assert caught.value.messages == [
        f"ERROR: word 0x{w:x} read as 0x{now[2 * w] | now[2 * w + 1] << 8:x}"
        f" instead of 0x{data[2 * w] | data[2 * w + 1] << 8:x}" for w in words]


def test_clear_fills_every_byte(ee: zelapi.Eeprom, backing: Path) -> None:
    ee.write(pattern(ee.size))
    ee.clear(0xA5)
    assert backing.read_bytes() == b"\xa5" * ee.size
    ee.clear(verify=False)
    assert backing.read_bytes() == b"\xff" * ee.size


def test_clear_that_does_not_read_back_raises_verify_error(backing: Path) -> None:
    with zelapi.open(link("24c02", backing, "SIMFAULT=flip:0x81/0x80"), "24c02") as ee:
        with pytest.raises(zelapi.VerifyError) as caught:
            ee.clear(0x00)
    assert caught.value.mismatches == [(0x81, 0x80, 0x00)]
    assert caught.value.messages == ["ERROR: word 0x40 read as 0x8000 instead of 0x0"]


@pytest.mark.parametrize("call", [
    lambda ee, d: ee.program(d / "missing.img"),
    lambda ee, d: ee.verify(d / "missing.img"),
    lambda ee, d: ee.dump(d / "no-such-folder" / "out.img"),
    lambda ee, d: ee.dump(d),
])
def test_file_errors_raise_os_error_and_leave_the_eeprom(call, ee: zelapi.Eeprom, backing: Path,
                                                        tmp_path: Path) -> None:
    before = backing.read_bytes()
    with pytest.raises(OSError) as caught:
        call(ee, tmp_path)
    assert isinstance(caught.value, zelapi.FileError) and caught.value.errno in (errno.ENOENT, errno.EISDIR)
    assert caught.value.filename is not None
    assert backing.read_bytes() == before


def test_a_path_longer_than_the_library_takes_is_dumped_and_programmed(backing: Path, tmp_path: Path) -> None:
    data = pattern(256, seed=6)
    out = tmp_path / ("x" * 250)
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        fill_backing(backing, data)
        ee.dump(out)
        fill_backing(backing, b"\xff" * 256)
        ee.program(out)
    assert backing.read_bytes() == data


def test_an_image_beyond_the_device_raises_image_error(ee: zelapi.Eeprom, backing: Path, tmp_path: Path) -> None:
    image = tmp_path / "big.img"
    image.write_text(f"@0000  1234\n@{ee.size // 2:04x}  5678\n")
    before = backing.read_bytes()
    for job in (ee.program, ee.verify):
        with pytest.raises(zelapi.ImageError):
            job(image)
    assert backing.read_bytes() == before


def test_a_dump_over_a_lost_link_leaves_no_file(backing: Path, tmp_path: Path) -> None:
    out = tmp_path / "out.img"
    with zelapi.open(link("24c32", backing, "SIMFAULT=lost:4000"), "24c32") as ee:
        with pytest.raises(zelapi.LinkError):
            ee.dump(out)
    assert not out.exists()


@pytest.mark.parametrize("call, states", [
    (lambda ee, img, out, p: ee.program(img, progress=p), ["Writing...", "Verifying..."]),
    (lambda ee, img, out, p: ee.program(img, verify=False, progress=p), ["Writing..."]),
    (lambda ee, img, out, p: ee.verify(img, progress=p), ["Reading..."]),
    (lambda ee, img, out, p: ee.dump(out, progress=p), ["Reading..."]),
    (lambda ee, img, out, p: ee.dump(out, verify=True, progress=p), ["Reading...", "Verifying..."]),
    (lambda ee, img, out, p: ee.clear(0x00, progress=p), ["Clearing...", "Verifying..."]),
])
def test_progress_of_image_jobs(call, states: list, ee: zelapi.Eeprom, tmp_path: Path) -> None:
    image = tmp_path / "in.img"
    write_image(image, pattern(ee.size))
    ee.program(image, verify=False)
    recorder = Recorder()
    call(ee, image, tmp_path / "out.img", recorder)
    assert_runs(recorder, states)
