#!/bin/sh
# Renders the embedded demo scene: two talkers, one at -40 degrees (read
# speech from pocketsphinx-testdata) and one at +30 degrees (the ALSA voice
# prompts), speaking with pauses after a 1.5 s noise-only lead-in, in diffuse
# noise at 15 dB SNR, on the KEMAR head at 16 kHz.
#
# usage: data/demo/make-demo.sh [BUILD_DIR]     (run from the repository root)
#        data/demo/make-demo.sh BUILD_DIR --room RT60 OUT_DIR
#
# With --room, the same talkers stand 1.5 m from the head in a 6 x 5 x 3 m
# room with a reverberation time of RT60 seconds, and the scene goes to
# OUT_DIR instead of data/demo (`make demo ROOM=0.6` uses this).
#
# The output is the same byte for byte on every run: the noise seed is fixed,
# the renderer's arithmetic is fixed in order, and sox runs without dither
# and in repeatable mode. Other versions of sox (its resampler), libmysofa
# (the response resampling), glibc (whose mathematical functions may also
# choose other code paths on other processors, differing in the last bit)
# or of the recordings' packages may move a rare sample by one step. The
# truth file names the talkers' intermediate files, which this script makes
# in a scratch folder and removes.
set -eu

BUILD=${1:-build}
RENDER=$(cd "$BUILD" && pwd)/kolv-render-scene
DEMO=$(cd "$(dirname "$0")" && pwd)
OUT=$DEMO
ROOM=""
DISTANCE=""
if [ $# -gt 1 ]; then
  [ "$2" = --room ] && [ $# -eq 4 ] || { echo "usage: $0 BUILD_DIR --room RT60 OUT_DIR" >&2; exit 2; }
  mkdir -p "$4"
  OUT=$(cd "$4" && pwd)
  ROOM="--room 6,5,3 --rt60 $3"
  DISTANCE="--distance 1.5"
fi
SPEECH=/usr/share/pocketsphinx/test/data/librivox
PROMPTS=/usr/share/sounds/alsa
RATE=16000
SOX="sox -D -R"

[ -x "$RENDER" ] || { echo "make-demo: build kolv-render-scene first ($RENDER)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

silence() { $SOX -n -r $RATE -c 1 -b 16 "$1" trim 0 "$2"; }

# Talker A: two read sentences with a pause between them.
silence pause-a.wav 1.3
$SOX "$SPEECH/sense_and_sensibility_01_austen_64kb-0880.wav" pause-a.wav \
     "$SPEECH/sense_and_sensibility_01_austen_64kb-0930.wav" talker-a.wav

# Talker B: three voice prompts, recorded at 48 kHz, with pauses.
for prompt in Front_Center Rear_Right Side_Left; do
  $SOX "$PROMPTS/$prompt.wav" -r $RATE -c 1 -b 16 "$prompt.wav"
done
silence pause-b.wav 0.6
$SOX Front_Center.wav pause-b.wav Rear_Right.wav pause-b.wav Side_Left.wav talker-b.wav

# shellcheck disable=SC2086  # ROOM and DISTANCE are lists of options, or empty
"$RENDER" --out "$OUT" --rate $RATE --duration 10 --snr 15 --seed 1 --peak -3 $ROOM \
  --source talker-a.wav --azimuth -40 --start 1.5 $DISTANCE \
  --source talker-b.wav --azimuth 30 --start 4.6 $DISTANCE
