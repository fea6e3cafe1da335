"""Reading the user's files, and writing them whole or not at all."""

import contextlib
import errno
import os
import secrets
import stat
import tempfile
from typing import Iterator, Optional, Union

from .errors import FileError

PathType = Union[str, "os.PathLike[str]"]

_NEW_FILE_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)


def _name(path: PathType) -> str:
    return os.fsdecode(os.fspath(path))


def file_error(error: OSError, path: PathType) -> FileError:
    return FileError(error.errno, error.strerror, _name(path))


def read_file(path: PathType) -> bytes:
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise file_error(error, path) from error


def _fsync_folder(folder: str) -> None:
    if os.name == "nt":  # a folder cannot be opened for flushing there; the move is flushed with it
        return
    descriptor = os.open(folder, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _new_beside(target: str) -> str:
    """Makes a new, empty file in the target's folder, with the target's mode
    when it exists (else the mode the umask gives), and returns its path."""
    folder, base = os.path.split(target)
    for _ in range(100):
        # a short stem: the target's own name may be as long as a name can be
        temp = os.path.join(folder, f".{base[:32]}.{secrets.token_hex(4)}.tmp")
        try:
            descriptor = os.open(temp, _NEW_FILE_FLAGS, 0o666)
        except FileExistsError:
            continue
        os.close(descriptor)
        with contextlib.suppress(FileNotFoundError):
            os.chmod(temp, stat.S_IMODE(os.stat(target).st_mode))
        return temp
    raise FileExistsError(errno.EEXIST, "no free name for a new file", folder)


class Replacement:
    """The new contents of the file `path`, written whole or not at all.

    Made before the caller's work, so that a path that cannot be written
    fails first: a new file is made in the target's folder. commit() fills
    it, flushes it (its folder too) and moves it over the target in one
    step; discard(), or any failure, removes it and leaves the old file as it
    was. Devices and FIFOs are written in place, never replaced."""

    def __init__(self, path: PathType) -> None:
        self._path = path
        self._target = os.path.realpath(path)
        self._temp: Optional[str] = None
        try:
            if os.path.isdir(self._target):
                raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR))
            if os.path.exists(self._target) and not stat.S_ISREG(os.stat(self._target).st_mode):
                if not os.access(self._target, os.W_OK):
                    raise PermissionError(errno.EACCES, os.strerror(errno.EACCES))
            else:
                self._temp = _new_beside(self._target)
        except OSError as error:
            raise file_error(error, path) from error

    def commit(self, contents: bytes) -> None:
        try:
            if self._temp is None:
                with open(self._target, "wb") as out:
                    out.write(contents)
                return
            with open(self._temp, "wb") as out:
                out.write(contents)
                out.flush()
                os.fsync(out.fileno())
            os.replace(self._temp, self._target)
            self._temp = None
            _fsync_folder(os.path.dirname(self._target))
        except OSError as error:
            self.discard()
            raise file_error(error, self._path) from error

    def discard(self) -> None:
        if self._temp is not None:
            with contextlib.suppress(OSError):
                os.remove(self._temp)
            self._temp = None


@contextlib.contextmanager
def scratch(contents: bytes = b"") -> Iterator[str]:
    """A file in the temporary folder holding `contents`, removed when the
    block ends."""
    descriptor, path = tempfile.mkstemp(prefix="zelapi-", suffix=".img")
    try:
        with os.fdopen(descriptor, "wb") as f:
            f.write(contents)
        yield path
    finally:
        with contextlib.suppress(OSError):
            os.remove(path)
