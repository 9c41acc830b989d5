#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each one for SECONDS
# (default 30) from the committed seed corpus in fuzz/corpus/TARGET.
# New inputs go to build-fuzz/corpus/TARGET; a crash stops the run, leaves
# its input in build-fuzz/ and fails the script. Add such an input to
# fuzz/corpus/TARGET once it is fixed, as a regression case.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZEL_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz_targets
export ASAN_OPTIONS=detect_leaks=0
for target in base64_decode decipher roundtrip catalog syntax runners boundary; do
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== fuzz_$target for ${seconds}s"
  build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
    "$work" "fuzz/corpus/$target" 2>&1 | grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec|==|SUMMARY|#.*DONE)" || true
  # libFuzzer's status is lost in the pipe above: a crash leaves an artifact.
  if ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* >/dev/null 2>&1; then
    echo "fuzz_$target found a problem:"; ls build-fuzz/crash-* build-fuzz/leak-* build-fuzz/timeout-* 2>/dev/null
    exit 1
  fi
done
