#!/usr/bin/env bash
# Cross-builds the Windows engine with Debian's mingw-w64 toolchain and packs
# the release zip:
#   build-win/pbrain-orvel.exe
#   build-win/orvel-windows-x64.zip   (the exe and packaging/windows/README.txt)
# With --tests it also builds orvel_tests.exe and orvel-bench.exe for Wine.
# Packages (Debian 12): g++-mingw-w64-x86-64-posix cmake zip, and googletest
# for --tests.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-2}"
BUILD_DIR="${BUILD_DIR:-build-win}"

tests=OFF
targets=(pbrain-orvel)
if [[ "${1:-}" == "--tests" ]]; then
  tests=ON
  targets+=(orvel_tests orvel-bench)
fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DORVEL_BENCHMARKS=OFF -DORVEL_TESTS="$tests"
cmake --build "$BUILD_DIR" -j"$JOBS" --target "${targets[@]}"

exe="$BUILD_DIR/pbrain-orvel.exe"
# A tournament machine has nothing beside the exe: only system DLLs may be
# imported.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ws2_32.dll) ;;
    *) echo "error: $exe imports $dll" >&2; exit 1 ;;
  esac
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/pbrain-orvel.exe"
cp packaging/windows/README.txt "$stage/README.txt"
zip_file="$(cd "$BUILD_DIR" && pwd)/orvel-windows-x64.zip"
rm -f "$zip_file"
# The text gets CR LF line ends (zip -l), for Windows editors.
(cd "$stage" && zip -q -X "$zip_file" pbrain-orvel.exe && zip -q -X -l "$zip_file" README.txt)
echo "built $exe and $zip_file (imports: $(echo $imports))"
