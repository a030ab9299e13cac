#!/usr/bin/env bash
# Builds Orvel and runs its tests three ways, stopping at the first failure:
#   build/       release build, every test
#   build-asan/  AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   build-tsan/  ThreadSanitizer, the think handshake and search thread tests
#   build-win/   Windows cross build, tested under Wine (scripts/test-windows.sh);
#                skipped without the mingw-w64 toolchain and Wine, unless
#                ORVEL_REQUIRE_WINDOWS=1 (as in CI)
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

if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  ./scripts/test-windows.sh
elif [[ "${ORVEL_REQUIRE_WINDOWS:-0}" == 1 ]]; then
  echo "error: the Windows tests need g++-mingw-w64-x86-64-posix and wine" >&2
  exit 1
else
  step "Windows build skipped: no mingw-w64 toolchain or no Wine"
fi

step "all tests passed"
