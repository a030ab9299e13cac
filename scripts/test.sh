#!/usr/bin/env bash
# Builds Orvel and runs its tests three ways, stopping at the first failure:
#   build/       release build, every test; then the board server's tests
#                against its engine and, where Chromium, ChromeDriver and
#                Selenium are installed, the board in a headless browser
#                (required when ORVEL_REQUIRE_BROWSER=1, as in CI)
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

step "board server tests"
ORVEL_ENGINE="$PWD/build/pbrain-orvel" python3 -m unittest discover -s tests/web -p 'test_server.py'

# Debian's Selenium belongs to the system's Python, which another python3
# on the PATH may hide.
browser_python=""
for python in python3 /usr/bin/python3; do
  if command -v "$python" >/dev/null && "$python" -c 'import selenium' 2>/dev/null; then
    browser_python="$python"
    break
  fi
done
if [[ -n "$browser_python" ]] && command -v chromium >/dev/null && command -v chromedriver >/dev/null; then
  step "board in a headless browser"
  ORVEL_ENGINE="$PWD/build/pbrain-orvel" ORVEL_SCREENSHOT="$PWD/build/board.png" \
    "$browser_python" tests/web/test_browser.py
elif [[ "${ORVEL_REQUIRE_BROWSER:-0}" == 1 ]]; then
  echo "error: the browser test needs chromium, chromium-driver and python3-selenium" >&2
  exit 1
else
  step "browser test skipped: no chromium, chromedriver or python3-selenium"
fi

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
