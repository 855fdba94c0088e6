#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan/UBSan) in build/fuzz, replays each one's regression
# inputs and runs it for SECONDS (default 5) on a scratch copy of its seed corpus.
#   fuzz/run_fuzzers.sh [SECONDS] [TARGET...]
# FUZZ_JOBS=N runs N targets at a time (default 1). FUZZ_KEEP=1 keeps the scratch directory.
# Exits 0 when every target ran clean, 1 when any found a crash, a hang, a leak, an oversized
# allocation or a broken property (the input that did it is kept and its path printed), and 2
# when the targets cannot be built or one is unknown.
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

# Each target first replays its regression inputs, each once and whole, under the limits below; then it
# fuzzes from a scratch copy of its seed corpus. Past findings stay out of the fuzzing corpus: one large
# regression input would set the length of every mutation (libFuzzer starts from the corpus's largest).
limits=(-rss_limit_mb=512 -malloc_limit_mb=256 -timeout=5)

report() {
  local t=$1 dir=$2 log=$3
  mkdir -p "$build/fuzz-findings/$t"
  cp "$dir/found/"* "$build/fuzz-findings/$t/" 2>/dev/null || true
  cp "$log" "$build/fuzz-findings/$t/log"
  printf '%-12s FOUND  see %s\n' "$t" "$build/fuzz-findings/$t/"
  grep -E 'Running:|ERROR|SUMMARY|runtime error|fuzz property' "$log" | head -6 | sed 's/^/    /' || true
}

# The targets that extract make their scratch directories in TMPDIR: a run that stops at a finding
# leaves its directory inside this script's own.
run_one() {
  local t=$1 dir=$scratch/$1
  mkdir -p "$dir/corpus" "$dir/found"
  cp -r "fuzz/corpus/$t/." "$dir/corpus/"
  local input
  for input in "fuzz/regressions/$t"/*; do
    [ -f "$input" ] || continue
    if ! TMPDIR=$dir "$build/fuzz/fuzz_$t" "${limits[@]}" "$input" >"$dir/replay.log" 2>&1; then
      cp "$input" "$dir/found/"
      report "$t" "$dir" "$dir/replay.log"
      return 1
    fi
  done
  if TMPDIR=$dir "$build/fuzz/fuzz_$t" -max_total_time="$seconds" "${limits[@]}" -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$dir/found/" "$dir/corpus" >"$dir/log" 2>&1; then
    local execs corpus
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log")
    corpus=$(find "$dir/corpus" -type f | wc -l)
    printf '%-12s ok     %8s exec/s  %5s corpus files\n' "$t" "$execs" "$corpus"
    return 0
  fi
  report "$t" "$dir" "$dir/log"
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
