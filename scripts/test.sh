#!/usr/bin/env bash
# Sets everything up, then builds and runs every test twice: a plain build and
# one under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
  (cd "$dir" && ctest --output-on-failure --timeout 300 -j2)
}

# Line tables are all a failing test's stack trace needs; the benchmarks are
# built once, in the plain build.
run_suite build -DLUMO_DEBUG_INFO=lines
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-sanitize -DLUMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLUMO_DEBUG_INFO=lines -DLUMO_BENCH=OFF
