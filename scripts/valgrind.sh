#!/usr/bin/env bash
# Runs the engine's unit tests under valgrind's memcheck: any memory error or
# definite leak fails. Uses the ordinary build in build/ (npm run build).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target zel_unit_tests zel_runner_tests >/dev/null
for binary in build/test/zel_unit_tests build/test/zel_runner_tests; do
  echo "== valgrind $binary"
  valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=1 \
    --suppressions=test/valgrind.supp "$binary" --gtest_brief=1
done
