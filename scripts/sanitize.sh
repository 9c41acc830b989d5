#!/usr/bin/env bash
# Builds the engine and its unit tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (every report fatal) in build-asan/, and runs
# the unit tests there.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON >/dev/null
cmake --build build-asan --target zel_unit_tests zel_runner_tests
# Modules are never unloaded and a module that throws keeps its object, by
# design; leaks are checked with valgrind (scripts/valgrind.sh) instead.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1
ctest --test-dir build-asan --output-on-failure
