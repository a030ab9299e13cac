#!/usr/bin/env bash
# Builds Orvel and runs its tests three ways, stopping at the first failure:
#   build/       release build, every test
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   build-tsan/  ThreadSanitizer, the think handshake and search thread tests
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"

step() { printf '\n==== %s\n' "$*"; }

step "release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS"

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVEL_SANITIZE=ON -DORVEL_BENCHMARKS=OFF
cmake --build build-asan -j"$JOBS"
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  ctest --test-dir build-asan --output-on-failure -j"$JOBS"

step "ThreadSanitizer build, handshake and search thread tests"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DORVEL_TSAN=ON -DORVEL_BENCHMARKS=OFF
cmake --build build-tsan -j"$JOBS" --target orvel_tests
TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}" \
  ctest --test-dir build-tsan -R 'Handshake|SearchThreads' --output-on-failure

step "all tests passed"
