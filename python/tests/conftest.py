"""Fixtures: the virtual target with a backing file in a temporary folder.

The library comes from ZELAPI_LIBRARY (CTest points it at the build);
the package from the source tree beside this folder."""

import sys
from pathlib import Path
from typing import Iterator, List, Tuple

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import zelapi  # noqa: E402
from zelapi import _eeprom  # noqa: E402

SIZES = {"24c02": 256, "24c32": 4096}


@pytest.fixture(autouse=True)
def hermetic(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator[None]:
    """No outside configuration of the virtual target; its per-user files go to
    the test's folder; no link stays open after a test."""
    monkeypatch.delenv("HOPLINK_SIM", raising=False)
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "state"))
    yield
    if _eeprom._current is not None:
        _eeprom._current.close()


def link(part: str, backing: Path, *extra: str) -> str:
    """A configuration string of the virtual target; write cycles take no time."""
    return " ".join([f"SIMPART={part}", f'SIMFILE="{backing}"', "SIMTWR=0", *extra])


@pytest.fixture(params=sorted(SIZES))
def part(request: pytest.FixtureRequest) -> str:
    return str(request.param)


@pytest.fixture
def backing(tmp_path: Path) -> Path:
    return tmp_path / "eeprom.bin"


@pytest.fixture
def ee(part: str, backing: Path) -> Iterator[zelapi.Eeprom]:
    with zelapi.open(link(part, backing), part) as eeprom:
        yield eeprom


def pattern(size: int, seed: int = 0) -> bytes:
    return bytes((i * 7 + seed + (i >> 8)) & 0xFF for i in range(size))


def fill_backing(backing: Path, data: bytes, at: int = 0) -> None:
    """Changes the cells behind the library's back (the file is shared with
    the open target)."""
    with open(backing, "r+b") as f:
        f.seek(at)
        f.write(data)


def write_image(path: Path, data: bytes) -> None:
    """An image file: one "@index  word" record per 16-bit word, low byte first."""
    words = [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]
    path.write_text("".join(f"@{i:04x}  {w:04x}\n" for i, w in enumerate(words)))


def read_image(path: Path, size: int) -> bytes:
    out = bytearray(b"\xff" * size)
    for line in path.read_text().splitlines():
        index, word = (int(t, 16) for t in line[1:].split())
        out[2 * index], out[2 * index + 1] = word & 0xFF, word >> 8
    return bytes(out)


class Recorder:
    """A progress function that keeps what it was told."""

    def __init__(self) -> None:
        self.calls: List[Tuple[str, int]] = []

    def __call__(self, state: str, percent: int) -> None:
        self.calls.append((state, percent))

    def states(self) -> List[str]:
        return list(dict.fromkeys(state for state, _ in self.calls))

    def percents(self, state: str) -> List[int]:
        return [p for s, p in self.calls if s == state]


def assert_runs(recorder: Recorder, states: List[str]) -> None:
    """Each state runs its percentages from 0 up to 100, never down, once."""
    assert recorder.states() == states
    for state in states:
        percents = recorder.percents(state)
        assert percents[0] == 0 and percents[-1] == 100, (state, percents)
        assert percents == sorted(set(percents)), (state, percents)

