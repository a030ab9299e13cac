#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Orvel needs.
# Runs apt-get directly as root (a fresh container has no sudo) and through
# sudo otherwise. --fuzz adds clang and its libFuzzer runtime, --windows the
# mingw-w64 cross compiler, Wine and zip for the Windows build and its tests,
# --browser Chromium, ChromeDriver and Selenium for the board's browser test.
set -euo pipefail
packages=(g++ cmake make libgtest-dev googletest python3 libbenchmark-dev)
for option in "$@"; do
  case "$option" in
    --fuzz) packages+=(clang libclang-rt-dev) ;;
    --windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 zip) ;;
    --browser) packages+=(chromium chromium-driver python3-selenium) ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
