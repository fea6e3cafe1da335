"""The exceptions of the package. Everything it raises for a failed EEPROM or
link operation derives from :class:`Error`; wrong arguments raise the usual
``ValueError`` and ``TypeError``."""

from typing import List, Sequence, Tuple

Mismatch = Tuple[int, int, int]
"""One differing byte: (EEPROM byte address, byte read back, byte expected)."""


class Error(Exception):
    """Base class of the package's exceptions."""


class LinkError(Error):
    """The link could not be opened, or the EEPROM stopped answering during an
    operation (a lost link, a device that does not acknowledge)."""


class LibraryError(Error):
    """The zelapi library could not be loaded (set ZELAPI_LIBRARY to its
    path), or it lacks a function that this package calls (it is older)."""


class BusyError(Error):
    """Refused: a link is already open, or another job or thread is using the
    library (it drives one EEPROM at a time, one call at a time)."""


class FileError(Error, OSError):
    """A file or folder of the package's could not be opened, read or
    written (an image file, the virtual target's per-user folder). An
    ``OSError`` with ``errno``, ``strerror`` and ``filename`` set."""


class ImageError(Error, ValueError):
    """The image file could be read but does not describe this EEPROM: a bad
    record or checksum, a cell beyond the device's end, no cell named at all,
    a binary file of another size. Nothing was written."""


class VerifyError(Error):
    """The EEPROM does not hold what it should.

    ``mismatches`` lists every differing byte as (address, read, expected),
    in ascending address order; ``messages`` holds the library's compare
    texts, one per differing word (image jobs) or byte (memory jobs)."""

    def __init__(self, mismatches: Sequence[Mismatch], messages: Sequence[str]) -> None:
        self.mismatches: List[Mismatch] = list(mismatches)
        self.messages: List[str] = list(messages)
        super().__init__(self._describe())

    def _describe(self) -> str:
        count = len(self.mismatches)
        if count == 0:
            return "verify failed: " + "; ".join(self.messages)
        address, read, expected = self.mismatches[0]
        return (
            f"verify failed: {count} byte{'s' if count != 1 else ''} differ"
            f" (first at 0x{address:x}: read 0x{read:02x}, expected 0x{expected:02x})"
        )
