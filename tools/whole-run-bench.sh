#!/bin/sh
# The whole-run benchmark: the default network (localization, tracking,
# separation, enhancement, voice activity; the displays without a screen just
# pass their data on) on a rendered 60 s two-talker scene, on one core.
# Reports the speed as a multiple of real time, in wall time (kolv --profile)
# and in CPU time, the peak resident memory and each node's share. The target
# is judged on the CPU time: the wall time also counts whatever else the
# machine runs meanwhile. The network runs RUNS times (3 unless set): a
# shared machine's speed can move by a third from one minute to the next, so
# each run's CPU time is listed and the target judged on their median; the
# profile shown is the last run's.
#
# usage: [RUNS=N] tools/whole-run-bench.sh [BUILD_DIR]   (from the repository root)
#
# The scene is rendered once into BUILD_DIR/whole-run-bench/ and reused while
# its recipe and the renderer stay the same.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
KOLV="$BUILD/kolv"
RENDER="$BUILD/kolv-render-scene"
WORK="$BUILD/whole-run-bench"
SCENE="$WORK/scene"
SPEECH=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb
PROMPTS=/usr/share/sounds/alsa
RATE=16000
DURATION=60
TARGET=25  # times real time, on one core
RUNS=${RUNS:-3}
case "$RUNS" in '' | *[!0-9]* | 0) echo "whole-run-bench: RUNS must be a positive whole number, not '$RUNS'" >&2; exit 1 ;; esac
SOX="sox -D -R"

for program in "$KOLV" "$RENDER"; do
  [ -x "$program" ] || { echo "whole-run-bench: build $program first" >&2; exit 1; }
done
mkdir -p "$WORK"

# Talker A reads five sentences twice, with short pauses; talker B says the
# eight voice prompts twice, with longer ones. Both start after 1.5 s of
# noise alone, the learning periods of the default network.
recipe="$(ls -l --time-style=+%s "$RENDER") talkers-v1 $DURATION"
if [ ! -f "$SCENE/truth.json" ] || [ "$(cat "$SCENE/recipe.txt" 2>/dev/null)" != "$recipe" ]; then
  echo "whole-run-bench: rendering a ${DURATION} s scene into $SCENE (once)"
  talkers=$(mktemp -d)
  trap 'rm -rf "$talkers"' EXIT
  $SOX -n -r $RATE -c 1 -b 16 "$talkers/pause-a.wav" trim 0 0.5
  $SOX -n -r $RATE -c 1 -b 16 "$talkers/pause-b.wav" trim 0 1.2
  sentences=""
  for n in 0870 0880 0890 0920 0930; do sentences="$sentences $SPEECH-$n.wav $talkers/pause-a.wav"; done
  # shellcheck disable=SC2086  # the lists are meant to split into files
  $SOX $sentences $sentences "$talkers/talker-a.wav"
  prompts=""
  for p in Front_Center Front_Left Front_Right Rear_Center Rear_Left Rear_Right Side_Left Side_Right; do
    $SOX "$PROMPTS/$p.wav" -r $RATE -c 1 -b 16 "$talkers/$p.wav"
    prompts="$prompts $talkers/$p.wav $talkers/pause-b.wav"
  done
  # shellcheck disable=SC2086
  $SOX $prompts $prompts "$talkers/talker-b.wav"
  rm -rf "$SCENE"
  "$RENDER" --out "$SCENE" --rate $RATE --duration $DURATION --snr 15 --seed 5 \
    --source "$talkers/talker-a.wav" --azimuth -40 --start 1.5 \
    --source "$talkers/talker-b.wav" --azimuth 30 --start 3 >/dev/null
  echo "$recipe" >"$SCENE/recipe.txt"
fi

# kolv writes the default network's files into kolv-out/ of its folder.
run="$WORK/run"
report="$WORK/profile.txt"
if [ -x /usr/bin/time ]; then
  timing="/usr/bin/time -f %U,%S,%M -o $WORK/cpu.txt"
else
  timing=""
fi
: >"$WORK/cpu-runs.txt"
n=0
while [ "$n" -lt "$RUNS" ]; do
  n=$((n + 1))
  rm -rf "$run"
  mkdir -p "$run"
  # shellcheck disable=SC2086
  (cd "$run" && env -u DISPLAY OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1 $timing \
    "$KOLV" run "$ROOT/networks/default.yaml" --set "source.FILE=$SCENE/scene.wav" --profile --quiet \
    >"$WORK/run.log" 2>"$report") || { cat "$WORK/run.log" "$report" >&2; exit 1; }
  [ -n "$timing" ] && cat "$WORK/cpu.txt" >>"$WORK/cpu-runs.txt"
done

# The displays' one-line notes that they have no screen are left out.
sed -n '/^kolv: profile/,/peak resident memory/p' "$report"
wall=$(sed -n 's/.*(\([0-9.]*\) s of audio, \([0-9.]*\) x real time).*/\2/p' "$report")
audio=$(sed -n 's/.*(\([0-9.]*\) s of audio, \([0-9.]*\) x real time).*/\1/p' "$report")
echo "whole run: ${audio} s of audio, ${wall} x real time (wall time of the last run, one core)"
if [ -n "$timing" ]; then
  awk -F, -v a="$audio" -v target="$TARGET" '
    { cpu[NR] = $1 + $2; if ($3 > peak) peak = $3 }
    END {
      for (i = 1; i <= NR; ++i) for (j = i + 1; j <= NR; ++j) if (cpu[j] < cpu[i]) { t = cpu[i]; cpu[i] = cpu[j]; cpu[j] = t }
      median = NR % 2 ? cpu[(NR + 1) / 2] : (cpu[NR / 2] + cpu[NR / 2 + 1]) / 2
      list = ""
      for (i = 1; i <= NR; ++i) list = list sprintf("%s%.2f", (i > 1 ? ", " : ""), cpu[i])
      printf "whole run: CPU time of %d run(s) %s s; median %.2f s, %.1f x real time (%.1f to %.1f); peak resident memory %.1f MB\n",
             NR, list, median, a / median, a / cpu[NR], a / cpu[1], peak / 1024
      printf "whole run: target %d x real time on one core %s (median)\n", target, (a / median >= target ? "met" : "MISSED") }' \
    "$WORK/cpu-runs.txt"
fi
