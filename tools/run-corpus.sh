#!/bin/bash
# Runs a network over every recording (*.wav, *.flac) of a folder with GNU
# parallel, each into a folder of its own: OUT_DIR/NAME (kolv run --out).
# A job log in OUT_DIR makes a second run resume: recordings already done are
# skipped, those interrupted or failed run again. See docs/corpora.md.
set -euo pipefail

usage() {
  cat >&2 <<'EOF'
usage: tools/run-corpus.sh NETWORK IN_DIR OUT_DIR [-j N] [--sshlogin LOGIN]...
                           [--source NODE] [--set NODE.PARAM=VALUE]...

  NETWORK           the network file; its WaveSource node reads each recording
  IN_DIR            the folder of recordings (*.wav, *.flac; not its subfolders)
  OUT_DIR           results: OUT_DIR/NAME/ per recording NAME.wav, the job log
                    OUT_DIR/joblog (run again to resume)
  -j N              recordings run at once on each machine (default: its cores)
  --sshlogin LOGIN  also run on LOGIN (parallel's --sshlogin: [N/]user@host, ':'
                    for this machine); every machine must see the same paths
                    (a shared file system) and have kolv
  --source NODE     the WaveSource node that reads the recording (default: source)
  --set N.P=V       set a parameter of the network, as kolv run --set does

The kolv program is $KOLV if set, else kolv beside this script's build
folder, else kolv on the PATH.
EOF
  exit 2
}

[ $# -ge 3 ] || usage
network=$(realpath "$1")
in_dir=$(realpath "$2")
out_dir=$3
shift 3
jobs=100%
source_node=source
remote=()
settings=()
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case $1 in
    -j) jobs=$2 ;;
    --sshlogin|-S) remote+=(--sshlogin "$2") ;;
    --source) source_node=$2 ;;
    --set) settings+=(--set "$2") ;;
    *) usage ;;
  esac
  shift 2
done

here=$(dirname "$(realpath "$0")")
if [ -z "${KOLV:-}" ]; then
  if [ -x "$here/../build/kolv" ]; then KOLV=$(realpath "$here/../build/kolv"); else KOLV=kolv; fi
fi
[ -f "$network" ] || { echo "run-corpus: no network file $1" >&2; exit 2; }
[ -d "$in_dir" ] || { echo "run-corpus: no folder $2" >&2; exit 2; }
mkdir -p "$out_dir"
out_dir=$(realpath "$out_dir")

# One job per recording: {} the recording, {/.} its name without the extension.
# --resume-failed skips what the job log records as done and runs again what
# it records as failed (an interrupted kolv exits with 130) or not at all.
exec parallel --will-cite -0 --jobs "$jobs" "${remote[@]}" \
  --joblog "$out_dir/joblog" --resume-failed \
  "$KOLV" run "$network" --set "$source_node.FILE={}" "${settings[@]}" \
  --out "$out_dir/{/.}" --quiet \
  :::: <(find "$in_dir" -maxdepth 1 -type f \( -name '*.wav' -o -name '*.flac' \) -print0 | sort -z)
