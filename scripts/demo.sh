#!/usr/bin/env bash
# Builds everything and starts the demo host. Without a display it runs
# offscreen, writes a screenshot and a transcript, and exits.
# Extra arguments go to the demo host (see --help).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"

# The tree that ./scripts/test.sh built, when there is one: only the demo
# is brought up to date there. Otherwise a tree of the demo's own.
if [ -f "$root/build/dev/CMakeCache.txt" ]; then
    build="$root/build/dev"
else
    build="$root/build/demo"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" --target tavi-demo

exec "$build/bin/tavi-demo" "$@"
