#!/usr/bin/env bash
# Builds a Release build on first use (incrementally afterwards) and runs the tool
# in the caller's working directory.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh" run
build="$top/build/release"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORDAX_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" >/dev/null
exec "$build/MORDAX" "$@"
