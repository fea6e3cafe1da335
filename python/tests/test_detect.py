"""zelapi.detect() on every part of the table, filled with random bytes and
erased, with the write-protect pin not wired: it names the true part, writes
nothing, and decides as zelprog detect does."""

import json
import os
import random
import subprocess
from pathlib import Path

from conftest import link

import zelapi


def test_detect_names_the_part_writes_nothing_and_agrees_with_zelprog(tmp_path: Path) -> None:
    zelprog = os.environ.get("ZELPROG")
    rng = random.Random(24)
    for part in zelapi.PART_TABLE.values():
        for erased in (False, True):
            backing = tmp_path / f"{part.name}-{erased}.bin"
            cells = b"\xff" * part.bytes if erased else rng.randbytes(part.bytes)
            backing.write_bytes(cells)
            config = link(part.name, backing, "SIMWP=off")
            found = zelapi.detect(config)
            assert part.name in found.candidates, (part.name, erased, found)
            assert found.bytes == (0 if erased else part.bytes), (part.name, erased, found)
            assert ("check-size" in found.note) == erased, (part.name, found)
            assert backing.read_bytes() == cells, part.name
            if zelprog:
                out = subprocess.run([zelprog, "--json", "--link", config, "detect"], check=True,
                                     capture_output=True, text=True).stdout
                event = json.loads(out.splitlines()[-1])
                assert (event["answering"], event["addressBytes"], event["bytes"], event["candidates"],
                        event["sure"], event["note"]) == (
                    [f"0x{a:02x}" for a in found.answering], found.address_bytes, found.bytes,
                    list(found.candidates), found.sure, found.note), part.name
