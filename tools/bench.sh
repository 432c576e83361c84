#!/bin/sh
# Runs every benchmark program of a build (display benchmarks under a virtual
# X server), then the whole-run benchmark when it exists, then kolv.run against
# kolv run when the Python module is built.
# Usage: tools/bench.sh [BUILD_DIR] [extra Google Benchmark flags...]
set -eu
BUILD=${1:-build}
[ $# -gt 0 ] && shift

for program in "$BUILD"/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  case "$(basename "$program")" in
    display_bench) xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@" ;;
    *) "$program" "$@" ;;
  esac
done

if [ -x tools/whole-run-bench.sh ]; then
  echo "== whole run"
  tools/whole-run-bench.sh "$BUILD"
fi

if [ -d "$BUILD/python/kolv" ]; then
  echo "== kolv.run against kolv run"
  PYTHONPATH="$BUILD/python" /usr/bin/python3 bench/python_vs_cli.py "$BUILD"
fi
