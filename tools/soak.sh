#!/bin/sh
# The endless-stream test: every node of the binaural toolbox but the
# displays (tools/soak/soak.yaml) on HOURS hours of generated two-channel
# audio, streamed through standard input as fast as kolv takes it. kolv's
# resident memory (VmRSS) is sampled every second; the run fails when kolv
# fails, when it stops short of the last frame, or when the peak memory of
# the last quarter of the run exceeds that of the first quarter by more than
# 5 % + 1 MB (memory that grows with the stream).
#
#   tools/soak.sh HOURS [BUILD]      e.g. tools/soak.sh 3
set -eu
usage="usage: tools/soak.sh HOURS [BUILD]"
hours=${1:?$usage}
build=$(cd "${2:-build}" && pwd)
source_tree=$(cd "$(dirname "$0")/.." && pwd)
seconds=$(awk -v h="$hours" 'BEGIN { printf "%d", h * 3600 }')
[ "$seconds" -gt 10 ] || { echo "$usage (more than 10 seconds of audio)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kolv-soak.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkfifo "$work/stream"

# The audio files would take 115 MB an hour each: they go nowhere. The
# tables stay, to check that every frame was computed.
"$build/kolv-soak-source" "$seconds" > "$work/stream" &
(cd "$work" && exec "$build/kolv" run "$source_tree/tools/soak/soak.yaml" --quiet \
   --set separated.FILE=/dev/null --set enhanced.FILE=/dev/null < stream > kolv.out 2> kolv.err) &
kolv=$!
started=$(date +%s)

while kill -0 "$kolv" 2> /dev/null; do
  awk '/^VmRSS:/ { print $2 }' "/proc/$kolv/status" 2> /dev/null >> "$work/rss" || true
  sleep 1
done
if wait "$kolv"; then status=0; else status=$?; fi
wall=$(( $(date +%s) - started ))
[ "$wall" -gt 0 ] || wall=1

if [ "$status" -ne 0 ]; then
  echo "soak: kolv failed with status $status:" >&2
  cat "$work/kolv.err" >&2
  exit 1
fi
frames=$(( (seconds * 16000 + 159) / 160 ))
last=$(tail -n 1 "$work/soak-out/speech.csv" | cut -d, -f1)
if [ "$last" != "$(( frames - 1 ))" ]; then
  echo "soak: the run ended at frame $last, not at frame $(( frames - 1 ))" >&2
  exit 1
fi

awk -v seconds="$seconds" -v wall="$wall" '
  { rss[NR] = $1 }
  END {
    if (NR < 8) { print "soak: too few memory samples (" NR ")"; exit 1 }
    q = int(NR / 4)
    for (i = 1; i <= q; ++i) if (rss[i] > first) first = rss[i]
    for (i = NR - q + 1; i <= NR; ++i) if (rss[i] > lastq) lastq = rss[i]
    printf "soak: %.2f hours of audio in %d s (%.0f times real time), %d memory samples\n",
           seconds / 3600, wall, seconds / wall, NR
    printf "soak: peak VmRSS %d kB in the first quarter, %d kB in the last quarter\n", first, lastq
    if (lastq > first * 1.05 + 1024) { print "soak: memory grows with the stream"; exit 1 }
  }' "$work/rss"
