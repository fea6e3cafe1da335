#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root, with
# apt-get), skipping what is there already. Packages named as arguments are
# installed instead of the whole list.
set -euo pipefail
packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libboost-dev chromium
          clang libclang-rt-14-dev gcovr mingw-w64 wine wine64 pkg-config
          python3 python3-pytest python3-setuptools python3-wheel python3-venv python3-mypy)
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
