#!/usr/bin/env bash
# Fails when tracked code is not in the tree's style: C and C++ as
# .clang-format says (clang-format 14, the version Debian has), Python within
# the line length of .editorconfig and with its imports in isort's order
# (python/pyproject.toml). Prints what is off.
#
#   bash scripts/check-format.sh
set -uo pipefail

cd "$(dirname "$0")/.."
status=0

mapfile -d '' cxx < <(git ls-files -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if ((${#cxx[@]})) && ! clang-format-14 --dry-run --Werror "${cxx[@]}"; then
    echo "check-format: C/C++ not formatted: clang-format-14 -i <file> formats it" >&2
    status=1
fi

mapfile -d '' python < <(git ls-files -z -- '*.py')
if ((${#python[@]})); then
    if ! pycodestyle --select=E501 --max-line-length=115 "${python[@]}"; then
        echo "check-format: Python lines longer than 115 characters" >&2
        status=1
    fi
    if ! isort --check-only --diff --settings-path python/pyproject.toml "${python[@]}"; then
        echo "check-format: Python imports out of order: isort --settings-path python/pyproject.toml <file> sorts them" >&2
        status=1
    fi
fi

exit $status
