#!/usr/bin/env bash
# Builds a Release build on first use (incrementally afterwards) and runs the tool
# in the caller's working directory: ./run.sh [options] ARCHIVE [DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/scripts/setup.sh" run
build="$top/build/release"
log="$build/run-build.log"
mkdir -p "$build"
# Quiet when all is well; the whole compiler output when it is not.
if [ ! -f "$build/build.ninja" ]; then
  if ! cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORDAX_TESTS=OFF >"$log" 2>&1; then
    cat "$log" >&2
    echo "run.sh: configuring the build failed (log: $log)" >&2
    exit 1
  fi
fi
if ! cmake --build "$build" -j "$(nproc)" >"$log" 2>&1; then
  cat "$log" >&2
  echo "run.sh: the build failed (log: $log)" >&2
  exit 1
fi
exec "$build/MORDAX" "$@"
