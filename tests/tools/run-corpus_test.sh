#!/bin/bash
# tools/run-corpus.sh on 20 short recordings with 2 jobs: every recording gets
# its folder of results; a run stopped part way (SIGTERM to parallel, which
# ends the running jobs) and started again runs only the unfinished ones.
# Usage: run-corpus_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# 20 recordings of 0.5 s, pieces of the demo scene, one of them FLAC.
mkdir "$scratch/in"
for i in $(seq -w 1 20); do
  sox "$source_dir/data/demo/scene.wav" "$scratch/in/rec-$i.wav" trim "$((10#$i % 10)).0" 0.5
done
sox "$scratch/in/rec-20.wav" "$scratch/in/rec-20.flac" && rm "$scratch/in/rec-20.wav"
echo "not audio" > "$scratch/in/notes.txt"

# kolv, logging each recording it is started on and taking its time.
cat > "$scratch/kolv" <<WRAP
#!/bin/sh
echo "\$4" >> "$scratch/started"
sleep 0.3
exec "$build_dir/kolv" "\$@"
WRAP
chmod +x "$scratch/kolv"
export KOLV="$scratch/kolv"
corpus() {
  "$source_dir/tools/run-corpus.sh" "$source_dir/networks/roundtrip.yaml" "$scratch/in" "$scratch/out" -j 2
}

done_jobs() { [ -f "$scratch/out/joblog" ] && tail -n +2 "$scratch/out/joblog" | wc -l || echo 0; }

# Started directly, so that $! is parallel itself (the script execs it).
"$source_dir/tools/run-corpus.sh" "$source_dir/networks/roundtrip.yaml" "$scratch/in" "$scratch/out" -j 2 &
runner=$!
while [ "$(done_jobs)" -lt 4 ]; do sleep 0.1; done
kill -TERM "$runner"
wait "$runner" || true
first=$(done_jobs)
[ "$first" -lt 20 ] || fail "the first run was not interrupted ($first jobs done)"
tail -n +2 "$scratch/out/joblog" | awk -F'\t' '$7 == 0' | grep -o 'rec-[0-9]*\.[a-z]*' | sort > "$scratch/finished"
mv "$scratch/started" "$scratch/started-first"

corpus
[ "$(done_jobs)" -eq 20 ] || fail "$(done_jobs) jobs in the job log, not 20"
grep -o 'rec-[0-9]*\.[a-z]*' "$scratch/started" | sort > "$scratch/second"
[ -z "$(comm -12 "$scratch/finished" "$scratch/second")" ] || fail "finished recordings ran again"
[ "$(sort -u "$scratch/finished" "$scratch/second" | wc -l)" -eq 20 ] || fail "not every recording ran"
for i in $(seq -w 1 20); do
  [ -s "$scratch/out/rec-$i/roundtrip.wav" ] || fail "no results for rec-$i"
done
[ "$(awk -F'\t' 'NR > 1 && $7 != 0' "$scratch/out/joblog" | wc -l)" -eq 0 ] || fail "failed jobs in the log"

# A third run finds nothing to do.
rm "$scratch/started"
corpus
[ ! -e "$scratch/started" ] || fail "a finished corpus ran again"
echo "run-corpus: $first recordings before the interruption, the other $((20 - first)) after"
