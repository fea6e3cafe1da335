#!/usr/bin/env python3
"""Programs an image file into the EEPROM, verifies it, and shows progress.

    python3 program_verify.py firmware.img --part 24c256           # the virtual target
    python3 program_verify.py firmware.img --link "SPITRANS=USB SPIPORT=0"

Exit status: 0 programmed and verified, 1 the EEPROM differs, 2 link or file
error, 130 interrupted.
"""

import argparse
import sys

import zelapi


def show(state: str, percent: int) -> None:
    """A bar redrawn in place on a terminal; one line per finished state elsewhere."""
    if sys.stderr.isatty():
        bar = "#" * (percent // 5)
        print(f"\r{state:<13} [{bar:<20}] {percent:3d}%", end="" if percent < 100 else "\n",
              file=sys.stderr, flush=True)
    elif percent == 100:
        print(f"{state} done", file=sys.stderr)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image", help="image file: .bin, .hex, .srec or a text image ('@index  word' lines)")
    parser.add_argument("--part", help="24c01 ... 24c1025 (without it: the EEPROM's geometry header)")
    parser.add_argument("--link", help="transport configuration string (default: the virtual target)")
    args = parser.parse_args()
    try:
        with zelapi.open(args.link, args.part) as ee:
            ee.program(args.image, verify=False, progress=show)
            ee.verify(args.image, progress=show)
            print(f"{args.image}: {len(ee)} bytes programmed and verified "
                  f"(EEPROM at 0x{ee.device_address:02x}, library {zelapi.version()})")
        return 0
    except zelapi.VerifyError as error:
        print(f"\n{error}", file=sys.stderr)
        for address, read, expected in error.mismatches[:10]:
            print(f"  0x{address:05x}: read 0x{read:02x}, expected 0x{expected:02x}", file=sys.stderr)
        return 1
    except (zelapi.Error, OSError, ValueError) as error:
        print(f"\n{error}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        print("\ninterrupted: the job was stopped", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main())
