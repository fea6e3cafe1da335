"""Opening and closing the link, the part table, the geometry header, and the
questions that need no job."""

import errno
import os
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import SIZES, link

import zelapi


def test_version_names_the_library_the_package_was_made_for() -> None:
    assert zelapi.version() == ".".join(zelapi.__version__.split(".")[:2])


def test_ports_lists_the_ports_of_the_transport() -> None:
    assert zelapi.ports() == ["sim0", "sim1"]


def test_a_library_that_does_not_load_is_a_library_error(tmp_path: Path) -> None:
    environment = dict(os.environ, ZELAPI_LIBRARY=str(tmp_path / "libnothing.so"))
    script = ("import sys, zelapi\n"
              "try:\n    zelapi.version()\n"
              "except zelapi.LibraryError as error:\n"
              "    sys.exit(not isinstance(error, OSError) and 'ZELAPI_LIBRARY' in str(error) and 7)\n")
    package = Path(__file__).resolve().parents[1]
    done = subprocess.run([sys.executable, "-c", script], env=environment, cwd=package)
    assert done.returncode == 7


@pytest.mark.parametrize("state, home, code", [
    (None, None, errno.ENOENT),
    ('with"quote', "home", errno.EINVAL),
])
def test_a_state_folder_that_cannot_be_used_is_a_file_error_with_errno_and_name(
        state: object, home: object, code: int, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    for variable, value in (("XDG_STATE_HOME", state), ("HOME", home)):
        if value is None:
            monkeypatch.delenv(variable, raising=False)
        else:
            monkeypatch.setenv(variable, str(tmp_path / str(value)))
    with pytest.raises(zelapi.FileError) as caught:
        zelapi.open(part="24c02")
    assert caught.value.errno == code and caught.value.strerror and caught.value.filename


def test_one_link_per_process(backing: Path, tmp_path: Path) -> None:
    first = zelapi.open(link("24c02", backing), "24c02")
    with pytest.raises(zelapi.BusyError):
        zelapi.open(link("24c02", tmp_path / "other.bin"), "24c02")
    assert not first.closed and first.device_address == 0xA0
    first.close()
    first.close()
    with zelapi.open(link("24c02", tmp_path / "other.bin"), "24c02") as second:
        assert second.device_address == 0xA0


def test_leaving_the_with_block_closes_the_link(backing: Path) -> None:
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        pass
    assert ee.closed
    with pytest.raises(ValueError):
        ee.read()
    # the target let go of its backing file: a new open can take it
    with zelapi.open(link("24c02", backing), "24c02") as again:
        assert len(again) == 256


@pytest.mark.parametrize("arguments", [
    dict(link="SIMPART=24c02", transport="usb"),
    dict(port=1),
    dict(transport="spi"),
    dict(transport="usb", port=-2),
    dict(part="24c03"),
    dict(part="24c02", pio=(6, 6, 8)),
    dict(part="24c02", pio=(0, 7, 8)),
    dict(part="24c02", pio=(6, 7)),
    dict(part="24c02", pio=(6, 7, 16)),
    dict(part="24c02", page_size=3),
    dict(part="24c02", page_size=512),
])
def test_open_refuses_bad_arguments_and_leaves_no_link_open(arguments: dict, backing: Path) -> None:
    with pytest.raises(ValueError):
        zelapi.open(**arguments)
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        assert ee.size == 256


@pytest.mark.parametrize("extra", ["SIMFAULT=absent", "SIMPART=24c99"])
def test_a_link_without_an_eeprom_raises_link_error(extra: str, backing: Path) -> None:
    with pytest.raises(zelapi.LinkError):
        zelapi.open(link("24c02", backing, extra), "24c02")
    with zelapi.open(link("24c02", backing), "24c02") as ee:
        assert ee.device_address == 0xA0


@pytest.mark.parametrize("part, geometry", [("24c02", (8, 0, 1)), ("24c32", (12, 0, 2)),
                                            ("24c16", (11, 7, 1))])
def test_geometry_comes_from_the_part(part: str, geometry: tuple, backing: Path) -> None:
    with zelapi.open(link(part, backing), part) as ee:
        assert ee.geometry == geometry
        assert ee.size == len(ee) == 1 << geometry[0]
        assert ee.page_size == 0
        assert ee.check_size()


def test_the_chip_address_pins_give_the_device_address(backing: Path) -> None:
    with zelapi.open(link("24c32", backing, "SIMADDR=3"), "24c32") as ee:
        assert ee.device_address == 0xA6


def test_pio_lines_reach_the_library(backing: Path) -> None:
    # the EEPROM sits on lines 3, 4, 5: the default lines find nothing
    with pytest.raises(zelapi.LinkError):
        zelapi.open(link("24c02", backing, "SIMLINES=3,4,5"), "24c02")
    with zelapi.open(link("24c02", backing, "SIMLINES=3,4,5"), "24c02", pio=(3, 4, 5)) as ee:
        ee.write(b"lines", 0x10)
        assert ee.read(0x10, 5) == b"lines"


def test_the_virtual_target_keeps_its_contents_where_zelprog_does(tmp_path: Path,
                                                                  monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setenv("HOPLINK_SIM", "SIMTWR=0")
    with zelapi.open(part="24C32") as ee:
        assert ee.size == 4096
        ee[0x100:0x104] = b"kept"
    state = tmp_path / "state" / "zelprog" / "eeprom-24c32.bin"
    assert state.read_bytes()[0x100:0x104] == b"kept"
    with zelapi.open(part="24c32") as ee:
        assert ee[0x100:0x104] == b"kept"


@pytest.mark.parametrize("transport, port", [("usb", 0), ("LPT", None)])
def test_a_standard_link_opens_through_zel_init(transport: str, port: object, backing: Path,
                                                monkeypatch: pytest.MonkeyPatch) -> None:
    # zelInit passes only SPITRANS and SPIPORT: the target takes the rest from its variable
    monkeypatch.setenv("HOPLINK_SIM", link("24c02", backing))
    with zelapi.open(part="24c02", transport=transport, port=port) as ee:
        ee[0:3] = b"usb"
    assert backing.read_bytes()[:3] == b"usb"


@pytest.mark.parametrize("part", sorted(SIZES))
def test_without_a_part_the_size_comes_from_the_geometry_header(part: str, backing: Path) -> None:
    with zelapi.open(link(part, backing)) as blank:
        assert blank.size == 0 and not blank.read_header()
        with pytest.raises(ValueError):
            blank.read()
        with pytest.raises(ValueError):
            blank.write_header()
    with zelapi.open(link(part, backing), part) as ee:
        ee.write_header()
        assert ee.read_header()
    with zelapi.open(link(part, backing)) as sized:
        assert sized.size == SIZES[part]
        assert sized.read(SIZES[part] - 2) == b"\xff\xff"


def test_page_size_is_set_at_open_and_can_be_changed(backing: Path) -> None:
    with zelapi.open(link("24c32", backing), "24c32", page_size=32) as ee:
        assert ee.page_size == 32
        ee.write(bytes(range(64)), 0x20)
        with pytest.raises(ValueError):
            ee.page_size = 48
        assert ee.page_size == 32
        ee.page_size = 0
        ee.write(b"\x00" * 8, 0x20)
        assert ee.read(0x20, 64) == b"\x00" * 8 + bytes(range(8, 64))
    # the next open starts with byte writes again
    with zelapi.open(link("24c32", backing), "24c32") as again:
        assert again.page_size == 0
