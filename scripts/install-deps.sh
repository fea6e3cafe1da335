#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, with
# apt-get), skipping what is there already. Packages named as arguments are
# installed instead of the whole list. The 32-bit wine (wine32, for the
# win32 stage) comes with the whole list, on machines that run 32-bit programs.
set -euo pipefail
packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libboost-dev chromium
          clang libclang-rt-14-dev llvm lld gcovr mingw-w64 wine wine64 pkg-config
          python3 python3-pytest python3-setuptools python3-wheel python3-venv python3-mypy
          clang-format-14 pycodestyle isort libftdi1-dev postgresql libpq-dev)
(($#)) && packages=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# The browser tests' npm packages, exactly as the lock file names them.
if (($# == 0)) && command -v npm >/dev/null; then
  (cd "$(dirname "$0")/../tests/browser" && npm ci --no-audit --no-fund --loglevel=error)
fi

# True when this machine runs 32-bit x86 programs (a kernel with 32-bit
# emulation on): a tiny one is assembled and run.
runs_32bit() {
  local dir status=1
  dir=$(mktemp -d)
  printf '.globl _start\n_start: movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/t.s"
  as --32 "$dir/t.s" -o "$dir/t.o" 2>/dev/null && ld -m elf_i386 "$dir/t.o" -o "$dir/t" 2>/dev/null &&
    "$dir/t" 2>/dev/null && status=0
  rm -rf "$dir"
  return $status
}

if ! (($#)) && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if runs_32bit; then
    echo "installing: wine32 (i386)"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo_cmd dpkg --add-architecture i386
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq wine32:i386 >/dev/null
  else
    echo "not installing wine32: this machine does not run 32-bit programs (the win32 stage only checks its files)"
  fi
fi
