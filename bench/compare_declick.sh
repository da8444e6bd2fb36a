#!/usr/bin/env bash
# Restores record sides made by the evaluation tools with kelvane-cli and with
# ffmpeg's adeclick filter, times both in the same run, and scores both
# against the clean originals.
#
#   bench/compare_declick.sh CORPUS_DIR [SIDE ...]
#
# CORPUS_DIR holds <side>/{side.wav,clean.wav,truth.json}; the scorer is
# ../shared/eval/score.py beside the project (or $KELVANE_SCORE). Needs ffmpeg.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=${1:?usage: compare_declick.sh CORPUS_DIR [SIDE ...]}
shift
sides=("$@")
[ ${#sides[@]} -eq 0 ] && sides=(dev01_normal dev02_heavy dev03_clean dev06_quiet)
cli="${KELVANE_CLI:-$here/build/cli/kelvane-cli}"
score="${KELVANE_SCORE:-$here/../shared/eval/score.py}"
out="${KELVANE_BENCH_OUT:-$here/build/bench-declick}"
mkdir -p "$out"

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }

printf '%-14s %8s %8s %8s %9s | %s\n' side audio_s ours_s adecl_s ratio "scores (ours / adeclick)"
for side in "${sides[@]}"; do
  dir="$corpus/$side"
  [ -f "$dir/side.wav" ] || { echo "no $dir/side.wav" >&2; continue; }
  ours="$out/$side.kelvane.wav"; theirs="$out/$side.adeclick.wav"; events="$out/$side.events.json"
  t_ours=$(seconds "$cli" --no-settings --quiet process "$dir/side.wav" --sensitivity 3 --corrected "$ours" \
           --events-json "$out/$side.report.json")
  t_theirs=$(seconds ffmpeg -y -v error -i "$dir/side.wav" -af adeclick -c:a pcm_s16le "$theirs")
  # The report's positions are position units; the scorer counts frames.
  python3 - "$out/$side.report.json" "$events" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
ds = r["dataStart"]
ev = [[(e[2] - ds) // 4, max(1, (((e[3] & 0x1FF) * 3) >> 3) * 2 + 2)] for e in r["events"] if e[3] >= 0]
json.dump(ev, open(sys.argv[2], "w"))
PY
  audio=$(python3 -c "import json;r=json.load(open('$out/$side.report.json'));print((r['dataEnd']-r['dataStart'])/4/r['sampleRate'])")
  s_ours=$("$score" "$dir" --restored "$ours" --events "$events" --name kelvane --json "$out/$side.score.kelvane.json" 2>&1 | tail -n 1)
  s_theirs=$("$score" "$dir" --restored "$theirs" --events-from-diff --name adeclick --json "$out/$side.score.adeclick.json" 2>&1 | tail -n 1)
  printf '%-14s %8.1f %8.3f %8.3f %9.1f | %s\n' "$side" "$audio" "$t_ours" "$t_theirs" \
    "$(echo "$t_theirs / $t_ours" | bc -l)" ""
  echo "    kelvane:  $s_ours"
  echo "    adeclick: $s_theirs"
done
