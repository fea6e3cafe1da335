#!/usr/bin/env bash
# Builds zelprog (Release) and shows it at work on the virtual target: clear
# the EEPROM, program a sample image with verify, dump it back, compare.
# The demo keeps its virtual EEPROM in build/demo, not in your state directory.
set -euo pipefail
cd "$(dirname "$0")/.."

# only what the demo's build needs
bash scripts/install-deps.sh cmake g++ make libcli11-dev nlohmann-json3-dev libboost-dev

echo "== building zelprog (Release)"
cmake --preset release >/dev/null
cmake --build build/release --target zelprog -j "${ZEL_JOBS:-2}" >/dev/null

zelprog=build/release/tools/zelprog/zelprog
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
export XDG_STATE_HOME="$PWD/$demo/state" LOCALAPPDATA="$PWD/$demo/state"
sample=samples/hello-24c02.img

step() { echo; echo "\$ zelprog $*"; "$zelprog" "$@"; }

step --part 24c02 info
step --part 24c02 clear
step --part 24c02 program "$sample"
step --part 24c02 dump "$demo/back.img"
step --part 24c02 dump "$demo/back.bin"

echo
if cmp -s "$sample" "$demo/back.img"; then
  echo "== the dump equals $sample, word for word"
else
  echo "== the dump differs from $sample"
  exit 1
fi
echo "== the first bytes of the EEPROM, as a binary dump:"
head -c 120 "$demo/back.bin"
echo
echo "== the virtual EEPROM's cells live in $demo/state/zelprog/eeprom-24c02.bin"
