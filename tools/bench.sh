#!/bin/sh
# Runs every benchmark program of a build folder, briefly (the machine is
# shared): tools/bench.sh [BUILD_DIR] [extra Google Benchmark flags...]
set -eu
BUILD=${1:-build}
[ $# -gt 0 ] && shift
found=0
for program in "$BUILD"/*_bench; do
  [ -x "$program" ] || continue
  found=1
  echo "== $(basename "$program")"
  "$program" --benchmark_min_time=0.2 "$@"
done
if [ "$found" = 0 ]; then
  echo "no benchmark programs in $BUILD (is Google Benchmark installed?)" >&2
  exit 1
fi
