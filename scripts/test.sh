#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test, the native
# ones also under AddressSanitizer and UBSan, and every fuzz target for a
# short fixed run; fails on C++ code that is not formatted.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/deps.sh
./scripts/format.sh --check
# The TypeScript compiler for the type check, pinned by the lock file.
if [ ! -x tests/js/node_modules/.bin/tsc ] || [ tests/js/package-lock.json -nt tests/js/node_modules/.package-lock.json ]; then
    npm ci --prefix tests/js --no-audit --no-fund
fi

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j2

# The native suite again under AddressSanitizer and UBSan, leaks included.
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2

# The fuzz targets (clang, libFuzzer, ASan and UBSan), a few seconds each.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j2
