#!/usr/bin/env python3
"""A production loop: writes the next serial number into each unit's EEPROM
and logs one JSON line per unit on standard output.

    python3 serial_numbers.py --part 24c32 --first 1000 --count 5
    python3 serial_numbers.py --link "SPITRANS=USB SPIPORT=0" --part 24c256 --first 1000 --prompt

With --prompt the operator connects the next unit and presses Enter (end of
input, Ctrl-D, ends the run); without it, --count units are done one after
another. The serial number is stored as 4 bytes, little-endian, at --offset,
written and read back. A unit whose EEPROM was reached but failed uses up its
number (part of it may be written); a unit that could not be reached at all
leaves the number for the next. Exit status: 0 when every unit passed, 1
otherwise.
"""

import argparse
import json
import sys
import time
from typing import Any, Dict, List, Optional

import zelapi


def program_unit(args: argparse.Namespace, serial: int) -> Dict[str, Any]:
    record: Dict[str, Any] = {"serial": serial, "time": time.strftime("%Y-%m-%dT%H:%M:%S%z"), "reached": False}
    try:
        with zelapi.open(args.link, args.part) as ee:
            record["reached"] = True
            record["device_address"] = ee.device_address
            if args.image:
                ee.program(args.image)
            ee.write(serial.to_bytes(4, "little"), args.offset)
            record["result"] = "ok"
    except zelapi.VerifyError as error:
        record.update(result="verify failed", mismatches=error.mismatches)
    except zelapi.LinkError as error:
        record.update(result="no link", error=str(error))
    except (zelapi.Error, OSError, ValueError) as error:
        record.update(result="error", error=str(error))
    return record


def next_unit(args: argparse.Namespace, done: int) -> bool:
    if not args.prompt:
        return bool(done < args.count)
    print("connect the next unit and press Enter (Ctrl-D ends)", file=sys.stderr)
    return sys.stdin.readline() != ""


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--part", required=True, help="the units' EEPROM, e.g. 24c32")
    parser.add_argument("--link", help="transport configuration string (default: the virtual target)")
    parser.add_argument("--first", type=int, required=True, help="the first serial number")
    parser.add_argument("--count", type=int, default=1, help="units to do without --prompt")
    parser.add_argument("--offset", type=lambda text: int(text, 0), default=0x20,
                        help="EEPROM address of the serial number (default 0x20)")
    parser.add_argument("--image", help="an image file to program into each unit first")
    parser.add_argument("--prompt", action="store_true", help="wait for Enter before each unit")
    args = parser.parse_args(argv)
    serial, done, failed = args.first, 0, 0
    try:
        while next_unit(args, done):
            record = program_unit(args, serial)
            record["unit"] = done + 1
            print(json.dumps(record), flush=True)
            done += 1
            serial += record["reached"]
            failed += record["result"] != "ok"
    except KeyboardInterrupt:
        print(json.dumps({"unit": done + 1, "serial": serial, "result": "interrupted"}), flush=True)
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
