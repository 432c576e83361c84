#!/bin/sh
# Makes the README's pictures: the default network on the demo, every display
# showing the whole 10 s, saved by --snapshots on a virtual display.
# Usage: tools/make-pictures.sh [BUILD_DIR]
set -eu
BUILD=${1:-build}
OUT=docs/pictures
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
whole=""
for display in directions speech frequencies enhanced-frequencies waveform; do
  whole="$whole --set $display.VISUALIZATION_TIME_LENGTH=10.5"
done
kolv=$(realpath "$BUILD/kolv")
(cd "$scratch" && xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
  "$kolv" run --quiet --snapshots pictures $whole > /dev/null)
mkdir -p "$OUT"
cp "$scratch"/pictures/*.png "$OUT"/
echo "pictures in $OUT/"
