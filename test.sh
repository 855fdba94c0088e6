#!/usr/bin/env bash
# Installs what is missing, builds with ASan and UBSan, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
scripts/setup.sh test
build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORDAX_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A short run of every fuzz target (clang build in build/fuzz), so a crash found once stays found;
# before the tests, so the test summary closes the output.
FUZZ_JOBS=2 fuzz/run_fuzzers.sh 4
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
