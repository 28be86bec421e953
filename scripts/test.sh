#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/deps.sh

cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j2
