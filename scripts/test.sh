#!/usr/bin/env bash
# Sets everything up, then builds and runs every test twice: a plain build and
# one under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DLUMO_TEST_SHARDS=ON "$@" >/dev/null && cmake --build "$dir"
}

# Most test processes wait on installers, windows and servers of their own,
# so three of them run for each core.
test_suite() {
  (cd "$1" && ctest --output-on-failure --timeout 300 -j"$(($(nproc) * 3))")
}

# The sanitizer build comes first: its tests take longest, and they run
# beside the plain build. Line tables are all a sanitizer's stack trace
# needs, and the plain build prints none; the benchmarks are built once, in
# the plain build.
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
build_suite build-sanitize -DLUMO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DLUMO_DEBUG_INFO=lines -DLUMO_BENCH=OFF
sanitizer_log=build-sanitize/tests.log
test_suite build-sanitize >"$sanitizer_log" 2>&1 &
sanitizer_tests=$!

build_status=0
build_suite build -DLUMO_DEBUG_INFO=none || build_status=$?
plain_status=0
if [ "$build_status" -eq 0 ]; then test_suite build || plain_status=$?; fi
sanitizer_status=0
wait "$sanitizer_tests" || sanitizer_status=$?
cat "$sanitizer_log"
for status in "$build_status" "$plain_status" "$sanitizer_status"; do
  if [ "$status" -ne 0 ]; then exit "$status"; fi
done
