#!/usr/bin/env bash
# Formats every C++ file of the project with clang-format (.clang-format);
# with --check, changes nothing and fails when a file is not formatted.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t files < <(find webmodule hostapi hostsim demo support tests bench \
        -path '*/node_modules' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
if [ "${1:-}" = "--check" ]; then
    if ! clang-format --dry-run --Werror "${files[@]}"; then
        echo "Not formatted: run ./scripts/format.sh" >&2
        exit 1
    fi
else
    clang-format -i "${files[@]}"
fi
