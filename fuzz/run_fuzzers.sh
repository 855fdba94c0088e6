#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan/UBSan) in build/fuzz and runs each one for SECONDS
# (default 5) on a scratch copy of its seed corpus plus its regression inputs.
#   fuzz/run_fuzzers.sh [SECONDS] [TARGET...]
# FUZZ_JOBS=N runs N targets at a time (default 1). FUZZ_KEEP=1 keeps the scratch directory.
# Exits non-zero when any target finds a crash, a hang, a leak or an oversized allocation; the
# input that did it is kept and its path printed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:-5}
shift || true
jobs=${FUZZ_JOBS:-1}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORDAX_FUZZ=ON -DMORDAX_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in fuzz/corpus/*/; do targets+=("$(basename "$d")"); done
fi
if ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}" >"$build/fuzz-build.log" 2>&1; then
  cat "$build/fuzz-build.log" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/mordax-fuzz.XXXXXX")
if [ "${FUZZ_KEEP:-0}" != 1 ]; then
  # Found inputs outlive the scratch directory: they are copied next to the build.
  trap 'rm -rf "$scratch"' EXIT
fi
# The quarantine of freed blocks counts against the RSS limit below: ASan's default (256 MB) would
# leave the inputs half of it.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:handle_abort=1:quarantine_size_mb=64
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run_one() {
  local t=$1 dir=$scratch/$1
  mkdir -p "$dir/corpus" "$dir/found"
  cp -r "fuzz/corpus/$t/." "$dir/corpus/"
  local seeds=()
  [ -d "fuzz/regressions/$t" ] && seeds+=("fuzz/regressions/$t")
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -rss_limit_mb=512 -malloc_limit_mb=256 -timeout=5 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$dir/found/" \
      "$dir/corpus" "${seeds[@]}" >"$dir/log" 2>&1; then
    local execs corpus
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
    corpus=$(ls "$dir/corpus" | wc -l)
    printf '%-10s ok     %8s exec/s  %5s corpus files\n' "$t" "$execs" "$corpus"
    return 0
  fi
  mkdir -p "$build/fuzz-findings/$t"
  cp "$dir/found/"* "$build/fuzz-findings/$t/" 2>/dev/null || true
  cp "$dir/log" "$build/fuzz-findings/$t/log"
  printf '%-10s FOUND  see %s\n' "$t" "$build/fuzz-findings/$t/"
  grep -E 'ERROR|SUMMARY|runtime error|fuzz property' "$dir/log" | head -5 | sed 's/^/    /'
  return 1
}

failed=0
running=0
for t in "${targets[@]}"; do
  [ -x "$build/fuzz/fuzz_$t" ] || { echo "no fuzz target '$t'" >&2; exit 2; }
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit $failed
