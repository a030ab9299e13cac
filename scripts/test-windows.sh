#!/usr/bin/env bash
# The Windows build, tested under Wine:
#   1. cross-build pbrain-orvel.exe, the zip, orvel_tests.exe and orvel-bench.exe
#      (scripts/build-windows.sh --tests);
#   2. the unit tests under Wine;
#   3. orvel-bench.exe must print the native bench's "Nodes searched";
#   4. the protocol sessions in tests/data/sessions through the exe, byte for
#      byte as the native engine (LF, CR LF and Ctrl-Z input).
# Needs the native release build in build/ (scripts/test.sh makes it first)
# and the packages of scripts/build-windows.sh plus wine and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build-win}"

step() { printf '\n==== %s\n' "$*"; }

step "Windows cross build"
BUILD_DIR="$BUILD_DIR" ./scripts/build-windows.sh --tests

# A private Wine prefix, made once before anything is timed, and its server
# stopped however the script ends.
export WINEPREFIX
WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/orvel-wine.XXXXXX")"
export WINEDEBUG=-all
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
step "Wine prefix in $WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w

step "unit tests under Wine"
# The test executable finds pbrain-orvel.exe beside itself and the test data
# through the Unix path (Wine maps / to drive Z:, the current drive here).
wine "$BUILD_DIR/orvel_tests.exe" --gtest_brief=1

step "bench under Wine"
native=$(build/orvel-bench | sed -n 's/^Nodes searched: //p')
windows=$(wine "$BUILD_DIR/orvel-bench.exe" | tr -d '\r' | sed -n 's/^Nodes searched: //p')
echo "Nodes searched: native $native, Wine $windows"
[[ -n "$native" && "$native" == "$windows" ]]

step "protocol sessions: Wine against native"
python3 tests/wine/compare_sessions.py --reference build/pbrain-orvel \
  --candidate "wine $BUILD_DIR/pbrain-orvel.exe" tests/data/sessions/*.txt
