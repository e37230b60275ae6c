#!/usr/bin/env bash
# Wall time of pixmar-preview on the header of 4096 x 4096 pseudo-random
# pixels, alone and with the original (side by side, PSNR and the Magic Pink
# key's report and map), against an earlier build's pixmar-preview in the
# same rotation: against a build from before the key report, the "original"
# row's ratio is the report's cost.
#   bench/preview.sh OTHER_PREVIEW [RUNS]
# Alternates the two, RUNS (15) times each, each run after a sync, prints
# each median and this build's ratio to the other's.
set -euo pipefail
other=$1
runs=${2:-15}
source "$(dirname "$0")/prepare.sh" pixmar pixmar-preview
[ -f big.bmp.h ] || "$build/pixmar" big.bmp >/dev/null

time_of() {
  sync
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  echo $(( (end - start) / 1000 ))
}
echo "$(uname -m), $(nproc) cores, $(date -u +%Y-%m-%d), $runs runs each, medians"
printf '%-10s %9s %9s %7s\n' case this_s other_s ratio
for case in alone original; do
  args=(big.bmp.h); [ "$case" = original ] && args+=(big.bmp)
  : >this.txt; : >other.txt
  for _ in $(seq "$runs"); do
    time_of "$build/pixmar-preview" "${args[@]}" >>this.txt
    time_of "$other" "${args[@]}" >>other.txt
  done
  awk -v c="$case" -v t="$(median <this.txt)" -v o="$(median <other.txt)" 'BEGIN {
    printf "%-10s %9.4f %9.4f %7.3f\n", c, t / 1e6, o / 1e6, t / o }'
done
rm -f this.txt other.txt big.bmp.h.preview.bmp big.bmp.h.key.bmp
