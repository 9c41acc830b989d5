#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer with leak
# detection, UndefinedBehaviorSanitizer) in build-fuzz/ and runs each one
# for SECONDS (default 30) from the committed seed corpus in
# fuzz/corpus/TARGET; fuzz_boundary, whose inputs cost the most, gets
# BOUNDARY_SHARE times as long on two processes. Prints each target's
# executed units. New inputs go to build-fuzz/corpus/TARGET. A crash, leak,
# timeout or out-of-memory of any target leaves its input in
# build-fuzz/artifacts/TARGET/ and fails the script once every target ran.
# Add such an input to fuzz/corpus/TARGET once it is fixed, as a
# regression case.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
boundary_share=${BOUNDARY_SHARE:-24}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZEL_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_targets
# Shorter allocation stacks and quarantine than the defaults: the targets
# allocate much per input, and reports keep five frames.
export ASAN_OPTIONS=malloc_context_size=5:quarantine_size_mb=16

# Runs one process of fuzz_$1 for $2 seconds, its output in $3.
run_process() {
  local target=$1 time=$2 log=$3 extra=(-max_len=8192)
  # Paths and module names: longer inputs only cost time.
  [ "$target" = boundary ] && extra=(-max_len=512)
  # Absolute paths: a target may change its working directory.
  [ -f "fuzz/$target.dict" ] && extra+=(-dict="$PWD/fuzz/$target.dict")
  "build-fuzz/fuzz/fuzz_$target" -max_total_time="$time" -timeout=10 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/artifacts/$target/" \
    "${extra[@]}" "$PWD/build-fuzz/corpus/$target" "$PWD/fuzz/corpus/$target" >"$log" 2>&1
}

failed=()
for target in base64_decode decipher roundtrip catalog syntax runners boundary; do
  time=$seconds processes=1
  if [ "$target" = boundary ]; then time=$((seconds * boundary_share)) processes=2; fi
  rm -rf "build-fuzz/artifacts/$target"
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
  echo "== fuzz_$target for ${time}s on $processes process(es)"
  pids=() status=0 units=0
  for ((i = 0; i < processes; i++)); do
    run_process "$target" "$time" "build-fuzz/fuzz_$target.$i.log" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=$?; done
  for ((i = 0; i < processes; i++)); do
    log=build-fuzz/fuzz_$target.$i.log
    grep -E "^(==[0-9]+==|SUMMARY|#[0-9]+.*DONE)" "$log" || true
    units=$((units + $(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1 | grep . || echo 0)))
  done
  echo "fuzz_$target: $units units executed"
  found=$(find "build-fuzz/artifacts/$target" -type f \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  if [ "$status" -ne 0 ] || [ -n "$found" ]; then
    echo "fuzz_$target found a problem (exit status $status): ${found:-no artifact}"
    failed+=("fuzz_$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing failed: ${failed[*]} (logs in build-fuzz/fuzz_TARGET.N.log)"
  exit 1
fi
