#!/usr/bin/env bash
# Reduces the tape hiss of sides made by the evaluation tools with
# kelvane-cli (each strength, with the profile it identifies and with
# --profile over the lead-in), with SoX's noisered (profile from the same
# lead-in) and with ffmpeg's afftdn, times every run in the same go and
# scores each against the clean original.
#
#   bench/compare_hiss.sh CORPUS_DIR [SIDE ...]
#
# CORPUS_DIR holds <side>/{side.wav,clean.wav,truth.json} (make_side.py
# --hiss-db makes such sides); the scorer is ../shared/eval/score.py beside
# the project (or $KELVANE_SCORE). Needs sox and ffmpeg (Debian's, for the
# comparison only). Times are the whole command, reading and writing the
# files included; CPU is user + system time, and "x kelvane" is a tool's CPU
# time over that of kelvane-cli at strength 2 with the identified profile.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
corpus=${1:?usage: compare_hiss.sh CORPUS_DIR [SIDE ...]}
shift
sides=("$@")
[ ${#sides[@]} -eq 0 ] && sides=(dev04_hiss dev07_pinkhiss)
cli="${KELVANE_CLI:-$here/build/cli/kelvane-cli}"
score="${KELVANE_SCORE:-$here/../shared/eval/score.py}"
out="${KELVANE_BENCH_OUT:-$here/build/bench-hiss}"
mkdir -p "$out"
for tool in sox ffmpeg; do command -v "$tool" >/dev/null || { echo "compare_hiss.sh: $tool is missing" >&2; exit 2; }; done

# run NAME COMMAND...: runs it, keeps "wall cpu" in $out/NAME.time.
run() {
  local name=$1; shift
  local t0 t1
  t0=$(date +%s.%N)
  if ! /usr/bin/env time -f '%U %S' -o "$out/$name.cpu" "$@" >"$out/$name.log" 2>&1; then
    echo "compare_hiss.sh: $name failed (see $out/$name.log)" >&2
    return 1
  fi
  t1=$(date +%s.%N)
  echo "$(echo "$t1 - $t0" | bc -l) $(awk '{print $1 + $2}' "$out/$name.cpu")" >"$out/$name.time"
}

# snr SIDE_DIR WAV NAME: the restored recording's SNR against the clean one.
snr() {
  "$score" "$1" --restored "$2" --name "$3" --json "$out/$3.score.json" >/dev/null 2>&1
  python3 -c "import json,sys; print('%.2f' % json.load(open(sys.argv[1]))['snr']['whole']['restored_db'])" \
    "$out/$3.score.json"
}

for side in "${sides[@]}"; do
  dir="$corpus/$side"
  [ -f "$dir/side.wav" ] || { echo "no $dir/side.wav" >&2; continue; }
  read -r rate leadin audio < <(python3 -c "
import json, sys
t = json.load(open(sys.argv[1]))
print(t['sample_rate'], t['tracks'][0]['start'] / t['sample_rate'], t['frames'] / t['sample_rate'])" "$dir/truth.json")
  # The lead-in's noise, a tenth of a second clear of either end.
  from=0.10
  to=$(echo "$leadin - 0.1" | bc -l | xargs printf '%.2f')
  before=$(snr "$dir" "$dir/side.wav" "$side.none")
  printf '\n%s: %.1f s at %s Hz, lead-in %.2f s, SNR of the side %s dB\n' "$side" "$audio" "$rate" "$leadin" "$before"

  names=() labels=()
  for s in 1 2 3; do
    run "$side.k$s" "$cli" --no-settings --quiet process "$dir/side.wav" --source tape --subtractor "$s" --no-split \
      --corrected "$out/$side.k$s.wav"
    names+=("$side.k$s") labels+=("kelvane strength $s, identified profile")
  done
  for s in 1 2 3; do
    run "$side.kp$s" "$cli" --no-settings --quiet process "$dir/side.wav" --source tape --subtractor "$s" --no-split \
      --profile "$from-$to" --corrected "$out/$side.kp$s.wav"
    names+=("$side.kp$s") labels+=("kelvane strength $s, --profile $from-$to")
  done
  run "$side.noiseprof" sox "$dir/side.wav" -n trim "$from" "=$to" noiseprof "$out/$side.noise.prof"
  for amount in 0.21 0.5; do
    run "$side.sox$amount" sox -D "$dir/side.wav" "$out/$side.sox$amount.wav" noisered "$out/$side.noise.prof" "$amount"
    names+=("$side.sox$amount") labels+=("sox noisered $amount (lead-in profile)")
  done
  for opts in "" "=nr=20"; do
    name="$side.afftdn${opts//[=:]/_}"
    run "$name" ffmpeg -y -v error -filter_threads 1 -i "$dir/side.wav" -af "afftdn$opts" -c:a pcm_s16le "$out/$name.wav"
    names+=("$name") labels+=("ffmpeg afftdn${opts}")
  done

  read -r _ ours < "$out/$side.k2.time"
  printf '  %-44s %8s %8s %8s %8s %10s\n' method "SNR dB" "gain dB" "wall s" "CPU s" "x kelvane"
  for i in "${!names[@]}"; do
    name=${names[$i]}
    read -r wall cpu < "$out/$name.time"
    after=$(snr "$dir" "$out/$name.wav" "$name")
    printf '  %-44s %8s %+8.2f %8.2f %8.2f %10.2f\n' "${labels[$i]}" "$after" "$(echo "$after - $before" | bc -l)" \
      "$wall" "$cpu" "$(echo "$cpu / $ours" | bc -l)"
  done
done
