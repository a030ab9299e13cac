#!/usr/bin/env bash
# Coverage-guided fuzzing of the command loop, for SECONDS seconds (default
# 120): builds the libFuzzer target in build-fuzz/ with clang (coverage,
# AddressSanitizer, UndefinedBehaviorSanitizer) and runs it from the start
# corpus fuzz/corpus/ with the dictionary fuzz/protocol.dict.
#
# Inputs that reach new code are added to build-fuzz/corpus/, which later
# runs start from as well. A finding (a crash, a sanitizer report, a broken
# rule of the session checks, an input running longer than 20 s, a leak)
# ends the run: the input is written to build-fuzz/findings/ and the script
# exits non-zero. Once it is fixed, keep the input in
# tests/data/fuzz_regressions/, where the ordinary tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
run_seconds="${1:-120}"
JOBS="${JOBS:-2}"
BUILD=build-fuzz

cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" -DORVEL_FUZZ=ON -DORVEL_BENCHMARKS=OFF
cmake --build "$BUILD" -j"$JOBS" --target orvel_fuzz
mkdir -p "$BUILD/corpus" "$BUILD/findings"

# Slow inputs are picked less often (entropic_scale_per_exec_time): a think
# costs milliseconds, a line of text microseconds.
status=0
"$BUILD/orvel_fuzz" -max_total_time="$run_seconds" -dict=fuzz/protocol.dict -max_len=12000 -timeout=20 \
  -rss_limit_mb=2048 -entropic_scale_per_exec_time=1 -print_final_stats=1 \
  -artifact_prefix="$BUILD/findings/" "$BUILD/corpus" fuzz/corpus || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzz: finding (exit status $status); inputs in $BUILD/findings/:" >&2
  ls -l "$BUILD/findings/" >&2
  exit "$status"
fi
echo "fuzz: no finding in ${run_seconds} s"
