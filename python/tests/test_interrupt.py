"""Stopping a job from Python: Ctrl-C, a progress function that raises, and
calls from a second thread while a job runs."""

import os
import signal
import threading
from pathlib import Path
from typing import List

import pytest
from conftest import link, pattern

import zelapi
from zelapi import _native


def slow(backing: Path) -> str:
    """A 24C32 whose write cycles take 5 ms: a full write takes 20 s."""
    return link("24c32", backing).replace("SIMTWR=0", "SIMTWR=5")


def written(backing: Path, data: bytes) -> int:
    return sum(a == b for a, b in zip(backing.read_bytes(), data))


def test_ctrl_c_during_a_background_write_stops_it(backing: Path) -> None:
    data = bytes(4096)
    going = threading.Event()

    def interrupt() -> None:
        going.wait()
        os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    with zelapi.open(slow(backing), "24c32") as ee:
        with pytest.raises(KeyboardInterrupt):
            ee.write(data, progress=lambda state, percent: percent >= 1 and going.set())
        sender.join()
        assert not _native.library().zelIsBusy()
        assert 0 < written(backing, data) < len(data)
        ee.write(b"next", 0x10)
        assert ee.read(0x10, 4) == b"next"


def test_a_progress_function_that_raises_stops_the_job(backing: Path) -> None:
    data = bytes(4096)

    def give_up(state: str, percent: int) -> None:
        if percent >= 1:
            raise RuntimeError("enough")

    with zelapi.open(slow(backing), "24c32") as ee:
        with pytest.raises(RuntimeError, match="enough"):
            ee.write(data, progress=give_up)
        assert written(backing, data) < len(data)
        assert ee.read(0, 2) == b"\x00\x00"


def test_calls_during_a_job_are_refused(backing: Path) -> None:
    refused: List[BaseException] = []

    def meddle(state: str, percent: int) -> None:
        if refused:
            return
        with pytest.raises(zelapi.BusyError) as same_thread:
            ee.read(0, 1)
        refused.append(same_thread.value)
        other = threading.Thread(target=lambda: refused.append(_catch(lambda: ee.check_size())))
        other.start()
        other.join()
        refused.append(_catch(lambda: zelapi.open(part="24c02")))

    with zelapi.open(link("24c32", backing), "24c32") as ee:
        ee.write(pattern(4096), progress=meddle)
        assert ee.read() == pattern(4096)
    assert [type(e) for e in refused] == [zelapi.BusyError] * 3


def _catch(call) -> BaseException:
    try:
        call()
    except BaseException as error:
        return error
    raise AssertionError("not refused")
