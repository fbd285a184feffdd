#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (seconds, default 60) from the committed seed corpus. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
secs=${1:-60}

CXX=clang++ cmake -S . -B build-fuzz -DSTUDENT_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-fuzz -j2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in dialogue datafile import; do
  mkdir -p "$work/$target"
  # The targets work in a scratch directory of their own, so paths are absolute.
  build-fuzz/fuzz_$target -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$PWD/build-fuzz/$target-" \
    "$work/$target" "$PWD/tests/fuzz/corpus/$target" > "$work/$target.log" 2>&1 || {
    tail -n 60 "$work/$target.log"
    echo "fuzz_$target: finding, see build-fuzz/$target-*"
    exit 1
  }
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
  echo "fuzz_$target: $runs executions in ${secs}s, no findings"
done
