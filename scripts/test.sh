#!/usr/bin/env bash
# Sets everything up, then builds and runs every test twice: a plain build and
# one under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir"
}

test_suite() {
  (cd "$1" && ctest --output-on-failure --timeout 300 -j2)
}

# Line tables are all a failing test's stack trace needs; the benchmarks are
# built once, in the plain build.
build_suite build -DLUMO_DEBUG_INFO=lines

# Most of the plain suite's time goes to installers that run one at a time
# and mostly wait, so the sanitizer build compiles beside it; its report
# follows the build's.
plain_log=build/plain-tests.log
test_suite build >"$plain_log" 2>&1 &
plain_tests=$!
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
build_status=0
build_suite build-sanitize -DLUMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLUMO_DEBUG_INFO=lines -DLUMO_BENCH=OFF ||
  build_status=$?
plain_status=0
wait "$plain_tests" || plain_status=$?
cat "$plain_log"
if [ "$plain_status" -ne 0 ]; then exit "$plain_status"; fi
if [ "$build_status" -ne 0 ]; then exit "$build_status"; fi

test_suite build-sanitize
