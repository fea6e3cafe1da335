"""Runs one job of the library on its worker thread while the calling thread
waits for it.

The library calls back from its worker thread, with its job lock held for
progress and result. The callbacks here therefore only queue what they hear;
the waiting thread takes it off the queue and calls the host's progress
function, so host code never runs on the library's thread, may raise, and
may take its time. A Ctrl-C (KeyboardInterrupt) or an exception from the
progress function while the job runs stops the job with zelStop; the
exception is raised again once the job has ended.
"""

import queue
import re
import threading
import time
from ctypes import byref
from typing import Any, Callable, List, NamedTuple, Optional, Tuple

from . import _native
from .errors import BusyError, Error, LinkError, Mismatch, VerifyError

ProgressFunction = Callable[[str, int], Any]

_POLL_SECONDS = 0.02  # how often the waiter looks at zelIsBusy and for a Ctrl-C when no callback comes
_END_POLL_SECONDS = 0.0005  # the worker thread ends right after its last callback
_STOP_WAIT_SECONDS = 2.0  # zelStop ends or abandons the job well inside this


class Outcome(NamedTuple):
    result: int  # 1 success, 0 failure
    states: List[str]  # state texts in the order the job told them
    messages: List[str]  # compare messages, without the "\n" that precedes each


class _Sink:
    """What the callbacks of one job have heard."""

    def __init__(self) -> None:
        self.caller = threading.get_ident()  # the thread that starts the job and waits
        self.events: "queue.SimpleQueue[Tuple[str, Any]]" = queue.SimpleQueue()
        self.percent: Optional[int] = None  # last percentage queued in this state (worker thread only)
        self.failure: Optional[BaseException] = None  # raised inside a callback, e.g. a Ctrl-C


_sink: Optional[_Sink] = None  # the job being waited for; read by the callbacks


def _guarded(body: Callable[[_Sink, Any], None]) -> Callable[[Any, Any], None]:
    def callback(_user: Any, value: Any) -> None:
        sink = _sink
        if sink is None:
            return
        try:
            body(sink, value)
        except BaseException as failure:  # nothing may leave a callback: the waiter raises it
            sink.failure = failure

    return callback


def _text(value: Optional[bytes]) -> str:
    return value.decode("utf-8", "replace") if value is not None else ""


def _on_progress(sink: _Sink, percent: int) -> None:
    if percent != sink.percent:
        sink.percent = percent
        sink.events.put(("progress", percent))


def _on_state(sink: _Sink, state: Optional[bytes]) -> None:
    sink.percent = None
    sink.events.put(("state", _text(state)))


def _on_result(sink: _Sink, result: int) -> None:
    # a background start tells OnResult(0) on the caller's thread first
    if threading.get_ident() != sink.caller:
        sink.events.put(("result", result))


def _on_message(sink: _Sink, message: Optional[bytes]) -> None:
    sink.events.put(("message", _text(message)))


# The library keeps the function pointers: they live as long as the module.
_CALLBACKS = _native.ZelCallbacks(
    _native.ProgressCallback(_guarded(_on_progress)),
    _native.TextCallback(_guarded(_on_state)),
    _native.ResultCallback(_guarded(_on_result)),
    _native.TextCallback(_guarded(_on_message)),
)

_installed = False  # our callbacks are in the library (set and read under the caller's lock)
_stopped_buffers: List[Any] = []  # buffers of stopped jobs: never freed under a thread that may still hold them


def install_callbacks(lib: _native.Library) -> None:
    """Installs the callbacks before each job: another host in the process
    may have installed its own handler since."""
    global _installed
    lib.zelSetCallbacks(byref(_CALLBACKS), None)
    _installed = True


def remove_callbacks(lib: _native.Library) -> None:
    global _installed
    if _installed:
        lib.zelSetCallbacks(None, None)
        _installed = False


class _Waiter:
    def __init__(self, sink: _Sink, progress: Optional[ProgressFunction]) -> None:
        self.sink = sink
        self.progress = progress
        self.state = ""
        self.states: List[str] = []
        self.messages: List[str] = []
        self.result: Optional[int] = None

    def take(self, event: Tuple[str, Any]) -> None:
        kind, value = event
        if kind == "state":
            self.state = value
            self.states.append(value)
        elif kind == "progress":
            if self.progress is not None:
                self.progress(self.state, value)
        elif kind == "message":
            if value != "\n":
                self.messages.append(value.rstrip("\n"))
        else:
            self.result = value

    def drain(self) -> None:
        while True:
            try:
                self.take(self.sink.events.get_nowait())
            except queue.Empty:
                return

    def wait(self, lib: _native.Library) -> None:
        while self.result is None:
            if self.sink.failure is not None:
                raise self.sink.failure
            try:
                self.take(self.sink.events.get(timeout=_POLL_SECONDS))
            except queue.Empty:
                if not lib.zelIsBusy():
                    self.drain()  # the thread is gone: whatever it told is queued
                    break
        while lib.zelIsBusy():
            time.sleep(_END_POLL_SECONDS)
        if self.result is None:
            self.result = lib.zelGetResult()


def stop(lib: _native.Library) -> None:
    """Stops the running job and waits until it has ended. A second Ctrl-C
    meanwhile does not cut the wait short: the job must end first."""
    deadline = time.monotonic() + _STOP_WAIT_SECONDS
    while True:
        try:
            lib.zelStop()
            while lib.zelIsBusy() and time.monotonic() < deadline:
                time.sleep(_END_POLL_SECONDS)
            return
        except KeyboardInterrupt:
            continue


def _refusal(lib: _native.Library) -> Error:
    if lib.zelIsBusy():
        return BusyError("the library is running another job")
    return Error("the library refused the job")


def run(start: Callable[[], Any], progress: Optional[ProgressFunction] = None, keep: Any = None) -> Outcome:
    """Starts a job in the background with `start` (a job export called with
    blocking = 0) and waits for its end. `keep` is what the job reads or
    writes besides its parameters; it is kept alive if the job must be
    stopped."""
    global _sink
    lib = _native.library()
    install_callbacks(lib)
    sink = _Sink()
    waiter = _Waiter(sink, progress)
    _sink = sink
    refused = False
    try:
        if not start():
            refused = True
            raise _refusal(lib)
        waiter.wait(lib)
    except BaseException:
        if not refused:
            stop(lib)
            if keep is not None:
                _stopped_buffers.append(keep)
        raise
    finally:
        _sink = None
    assert waiter.result is not None
    return Outcome(waiter.result, waiter.states, waiter.messages)


_COMPARE = re.compile(r"ERROR: (word|byte) 0x([0-9a-f]+) read as 0x([0-9a-f]+) instead of 0x([0-9a-f]+)")


def mismatches(messages: List[str]) -> List[Mismatch]:
    """The differing bytes that the compare messages name. A word message
    covers bytes 2n (low byte) and 2n + 1 (high byte)."""
    found: List[Mismatch] = []
    for message in messages:
        match = _COMPARE.match(message)
        if match is None:
            continue
        index, read, expected = (int(match.group(n), 16) for n in (2, 3, 4))
        if match.group(1) == "byte":
            found.append((index, read, expected))
            continue
        for half in (0, 1):
            got, want = (read >> (8 * half)) & 0xFF, (expected >> (8 * half)) & 0xFF
            if got != want:
                found.append((2 * index + half, got, want))
    return found


def check(outcome: Outcome, what: str) -> None:
    """Raises for a failed job: VerifyError when the compare found
    differences, LinkError when the EEPROM could not be reached (with the
    library's own words when it told why, e.g. a write cycle that did not
    end in time)."""
    if outcome.result:
        return
    if any(_COMPARE.match(message) for message in outcome.messages):
        raise VerifyError(mismatches(outcome.messages), outcome.messages)
    if outcome.messages:
        reasons = (message[len("ERROR: "):] if message.startswith("ERROR: ") else message
                   for message in outcome.messages)
        raise LinkError(f"{what} failed: " + "; ".join(reasons))
    raise LinkError(f"{what} failed: the EEPROM stopped answering or the link was lost")
