#!/usr/bin/env bash
# Divides record sides made by the evaluation tools into tracks with
# kelvane-cli's track finder and with ffmpeg's silencedetect used as a track
# splitter, and scores both against the true track starts and ends.
#
#   bench/compare_tracks.sh CORPUS_DIR [SIDE ...]
#
# silencedetect runs with noise=-45dB and d=1 (a track is what lies between
# two silences of at least a second); SILENCE_NOISE / SILENCE_MIN change that.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=${1:?usage: compare_tracks.sh CORPUS_DIR [SIDE ...]}
shift
sides=("$@")
[ ${#sides[@]} -eq 0 ] && sides=(dev01_normal dev02_heavy dev03_clean dev04_hiss dev05_hires dev06_quiet)
cli="${KELVANE_CLI:-$here/build/cli/kelvane-cli}"
score="${KELVANE_SCORE:-$here/../shared/eval/score.py}"
out="${KELVANE_BENCH_OUT:-$here/build/bench-tracks}"
noise="${SILENCE_NOISE:--45dB}"
minimum="${SILENCE_MIN:-1}"
mkdir -p "$out"

for side in "${sides[@]}"; do
  dir="$corpus/$side"
  [ -f "$dir/side.wav" ] || { echo "no $dir/side.wav" >&2; continue; }
  "$cli" --no-settings --quiet process "$dir/side.wav" --sensitivity 0 --events-json "$out/$side.report.json" >/dev/null
  python3 - "$out/$side.report.json" "$out/$side.kelvane-tracks.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
ds = r["dataStart"]
json.dump([[(a - ds) // 4, (b - ds) // 4] for a, b in r["tracks"]], open(sys.argv[2], "w"))
PY
  ffmpeg -v info -nostats -i "$dir/side.wav" -af "silencedetect=noise=$noise:d=$minimum" -f null - 2>"$out/$side.silence.log" || true
  python3 - "$out/$side.silence.log" "$dir/truth.json" "$out/$side.silencedetect-tracks.json" <<'PY'
import json, re, sys
log = open(sys.argv[1]).read()
truth = json.load(open(sys.argv[2]))
fs, frames = truth["sample_rate"], truth["frames"]
starts = [float(x) for x in re.findall(r"silence_start: (-?[0-9.]+)", log)]
ends = [float(x) for x in re.findall(r"silence_end: ([0-9.]+)", log)]
# Sound lies between the end of one silence and the start of the next.
edges, t = [], 0.0
for s, e in zip(starts, ends + [None] * (len(starts) - len(ends))):
    if s > t:
        edges.append([t, s])
    t = e if e is not None else frames / fs
if t < frames / fs:
    edges.append([t, frames / fs])
json.dump([[int(a * fs), int(b * fs)] for a, b in edges if b - a > 0.5], open(sys.argv[3], "w"))
PY
  echo "$side"
  echo "    kelvane:        $("$score" "$dir" --tracks "$out/$side.kelvane-tracks.json" --name kelvane 2>&1 | tail -n 1)"
  echo "    silencedetect:  $("$score" "$dir" --tracks "$out/$side.silencedetect-tracks.json" --name silencedetect 2>&1 | tail -n 1)"
done
