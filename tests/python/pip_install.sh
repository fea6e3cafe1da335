#!/usr/bin/env bash
# pip install --no-build-isolation of the package into a fresh virtual
# environment, with no package index (offline), then both examples run from
# there against the virtual target. The library is copied into the package
# before the install, so it is found beside the installed package.
# Usage: pip_install.sh PYTHON LIBRARY PACKAGE_DIR WORK_DIR
set -euo pipefail
python=$1 library=$2 package=$3 work=$4

rm -rf "$work"
mkdir -p "$work/run" "$work/state"
# pip builds in the source tree: build a copy, not the checkout
cp -r "$package" "$work/python"
rm -rf "$work/python/tests"
cp "$library" "$work/python/zelapi/"
# the system's setuptools builds the package (--no-build-isolation): the
# environment sees the system's packages, and installs into its own folder
"$python" -m venv --system-site-packages "$work/venv"
venv_python=$work/venv/bin/python
(cd "$work" && "$venv_python" -m pip install -q --no-build-isolation --no-index --no-cache-dir ./python)

cd "$work/run"
unset ZELAPI_LIBRARY
export XDG_STATE_HOME=$work/state HOPLINK_SIM=SIMTWR=0
"$venv_python" - "$work/venv" <<'PY'
import importlib.metadata, os, sys, zelapi
from zelapi import _native
assert importlib.metadata.version("zelapi") == zelapi.__version__, importlib.metadata.version("zelapi")
installed = os.path.dirname(zelapi.__file__)
assert installed.startswith(sys.argv[1]), installed
assert os.path.isfile(os.path.join(installed, "py.typed"))
assert os.path.dirname(_native.library().path) == installed, _native.library().path
words = [(i * 0x0101 + 0x1234) & 0xFFFF for i in range(128)]
with open("firmware.img", "w") as f:
    f.writelines(f"@{i:04x}  {w:04x}\n" for i, w in enumerate(words))
PY
"$venv_python" "$work/python/examples/program_verify.py" firmware.img --part 24c02
"$venv_python" "$work/python/examples/serial_numbers.py" --part 24c02 --first 1000 --count 3 > units.jsonl
"$venv_python" - <<'PY'
import json, zelapi
units = [json.loads(line) for line in open("units.jsonl")]
assert [(u["unit"], u["serial"], u["result"]) for u in units] == [(1, 1000, "ok"), (2, 1001, "ok"), (3, 1002, "ok")], units
with zelapi.open(part="24c02") as ee:
    assert ee.read(0x20, 4) == (1002).to_bytes(4, "little")
    words = [(i * 0x0101 + 0x1234) & 0xFFFF for i in range(16)]
    assert ee.read(0, 0x20) == b"".join(w.to_bytes(2, "little") for w in words)
print("installed package and examples work:", len(units), "units")
PY
