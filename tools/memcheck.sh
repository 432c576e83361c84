#!/bin/sh
# Checks that memory does not grow with the length of the stream: runs the
# spectral round trip over one minute and over one hour of two-channel 16 kHz
# audio and compares the peak resident memory (kolv --profile reports it).
#   tools/memcheck.sh [BUILD_DIR] [pipe|file]
# pipe (the default) streams the audio through standard input; file writes
# the recordings to a scratch folder first (about 230 MB for the hour).
set -eu
BUILD=${1:-build}
MODE=${2:-pipe}
KOLV="$BUILD/kolv"
NETWORK="$(dirname "$0")/../networks/roundtrip.yaml"
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
# Allowed growth of the hour's peak over the minute's, in percent.
LIMIT=10

synth() {
  sox -n -r 16000 -c 2 -b 16 -t wav "$2" synth "$1" sine 440 sine 660 vol 0.5 2>/dev/null
}

peak_kb() {
  if [ "$MODE" = file ]; then
    synth "$1" "$SCRATCH/in.wav"
    "$KOLV" run "$NETWORK" --quiet --profile --set source.FILE="$SCRATCH/in.wav" \
      --set sink.FILE="$SCRATCH/out.wav" 2>&1
  else
    synth "$1" - | "$KOLV" run "$NETWORK" --quiet --profile --set source.FILE=- \
      --set sink.FILE="$SCRATCH/out.wav" 2>&1
  fi | sed -n 's/.*peak resident memory: \([0-9]*\) kB.*/\1/p'
}

MINUTE=$(peak_kb 60)
HOUR=$(peak_kb 3600)
echo "peak resident memory: 1 minute $MINUTE kB, 1 hour $HOUR kB ($MODE)"
if [ $((HOUR * 100)) -gt $((MINUTE * (100 + LIMIT))) ]; then
  echo "memory grows with the stream: more than $LIMIT % over the one-minute run" >&2
  exit 1
fi
echo "within $LIMIT %"
