"""What open() needs before it calls the library: the 24Cxx parts by name (from
the table of parts), the
PIO lines, and the virtual target's configuration string (the same backing
file that zelprog uses, so the two see one EEPROM)."""

import errno
import os
import sys
from typing import Dict, NamedTuple, Optional, Sequence, Tuple

from . import _parts
from .errors import FileError

DEFAULT_LINES = (6, 7, 8)  # clock, data, write-protect
DEFAULT_VIRTUAL_PART = "24c256"
MAX_PIO_LINE = 15  # 16 PIO lines; line 0 cannot be chosen (0 keeps a line)


class PartGeometry(NamedTuple):
    size_bits: int  # the part holds 2**size_bits bytes
    block_bits: int  # device-address bits that carry the top memory-address bits


PARTS: Dict[str, PartGeometry] = {name: PartGeometry(part.size_bits, part.block_bits)
                                  for name, part in _parts.TABLE.items()}

TRANSPORT_KINDS = {"lpt": 1, "usb": 2}


def find_part(name: str) -> Tuple[str, PartGeometry]:
    if not isinstance(name, str):
        raise TypeError(f"part must be a name such as '24c256', not {type(name).__name__}")
    part = _parts.find(name)
    if part is None:
        raise ValueError(f"unknown part {name!r}: known parts are {', '.join(PARTS)}")
    return part.name, PARTS[part.name]


def pio_lines(pio: Optional[Sequence[int]]) -> Tuple[int, int, int]:
    """(clock, data, write-protect): three different lines from 1 to 15."""
    if pio is None:
        return DEFAULT_LINES
    lines = tuple(pio)
    if (len(lines) != 3 or not all(isinstance(line, int) and not isinstance(line, bool) for line in lines)
            or not all(1 <= line <= MAX_PIO_LINE for line in lines) or len(set(lines)) != 3):
        raise ValueError(f"pio takes three different line numbers from 1 to {MAX_PIO_LINE} "
                         f"(clock, data, write-protect), e.g. (6, 7, 8); got {pio!r}")
    return lines  # type: ignore[return-value]


def transport_kind(transport: str) -> int:
    kind = TRANSPORT_KINDS.get(transport.lower()) if isinstance(transport, str) else None
    if kind is None:
        raise ValueError(f"transport must be 'lpt' or 'usb', not {transport!r}")
    return kind


def state_directory() -> str:
    """The per-user folder of the virtual target's backing files, created if
    missing: $XDG_STATE_HOME/zelprog, ~/.local/state/zelprog, or
    %LOCALAPPDATA%\\zelprog on Windows."""
    if sys.platform == "win32":
        base = os.environ.get("LOCALAPPDATA")
        if not base:
            raise FileError(errno.ENOENT, "%LOCALAPPDATA% is not set: pass link= to name the link instead",
                            os.path.join("%LOCALAPPDATA%", "zelprog"))
        folder = os.path.join(base, "zelprog")
    else:
        state = os.environ.get("XDG_STATE_HOME")
        home = os.environ.get("HOME")
        if state and os.path.isabs(state):
            folder = os.path.join(state, "zelprog")
        elif home:
            folder = os.path.join(home, ".local", "state", "zelprog")
        else:
            raise FileError(errno.ENOENT, "neither XDG_STATE_HOME nor HOME is set: set one, or pass link= to "
                            "name the link", os.path.join("~", ".local", "state", "zelprog"))
    try:
        os.makedirs(folder, exist_ok=True)
    except OSError as error:
        raise FileError(error.errno, error.strerror, folder) from error
    return folder


def virtual_config(part: str, pio: Optional[Tuple[int, int, int]]) -> Tuple[str, str]:
    """The configuration string that opens the virtual target for `part`, and
    a description of it for error texts."""
    path = os.path.join(state_directory(), f"eeprom-{part}.bin")
    if '"' in path:
        raise FileError(errno.EINVAL, "the state file's path holds a double quote, which the link's "
                        "configuration cannot carry: point XDG_STATE_HOME elsewhere or pass link=", path)
    # configuration words are separated by blanks; a quoted value may hold them
    config = f'SIMPART={part} SIMFILE="{path}"'
    if pio is not None:
        config += " SIMLINES=" + ",".join(str(line) for line in pio)
    return config, f"the virtual target ({part}, {path})"
