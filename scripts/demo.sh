#!/usr/bin/env bash
# Builds everything and starts the demo host. Without a display it runs
# offscreen, writes a screenshot and a transcript, and exits.
# Extra arguments go to the demo host (see --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"

build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target tavi-demo

exec "$build/bin/tavi-demo" "$@"
