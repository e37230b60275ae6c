#!/usr/bin/env bash
# Wall time of whole pixmar runs on 4096 x 4096 pseudo-random pixels with
# each word formatter this processor runs, in one rotation.
#   bench/widths.sh [RUNS] [OTHER_PIXMAR]
# Builds the benchmark build (whose pixmar takes its formatter from
# PIXMAR_WORD_FORMATTER), then alternates the widths (and OTHER_PIXMAR, an
# earlier build, if given), RUNS (15) times each, over an existing header,
# switch off, each run after a sync, and prints each median and its ratio to
# the next narrower width's.
set -euo pipefail
runs=${1:-15}
other=${2:-}
source "$(dirname "$0")/prepare.sh" pixmar encoder_bench
mapfile -t widths < <("$build/bench/encoder_bench" --benchmark_list_tests | sed -n 's|^format_row/\([^/]*\)/0$|\1|p')
[ -n "$other" ] && widths+=(other)

"$build/pixmar" big.bmp >/dev/null
for width in "${widths[@]}"; do : >"times-$width.txt"; done
for _ in $(seq "$runs"); do
  for width in "${widths[@]}"; do
    sync
    start=$(now)
    if [ "$width" = other ]; then
      "$other" big.bmp >/dev/null
    else
      PIXMAR_WORD_FORMATTER=$width "$build/pixmar" big.bmp >/dev/null
    fi
    end=$(now)
    echo $(( (end - start) / 1000 )) >>"times-$width.txt"
  done
done

echo "$(uname -m), $(nproc) cores, $(date -u +%Y-%m-%d), $runs runs each, medians, 4096 x 4096 replaced"
printf '%-8s %9s %12s\n' width pixmar_s /narrower
previous=
for width in "${widths[@]}"; do
  us=$(median <"times-$width.txt")
  awk -v w="$width" -v t="$us" -v p="${previous:-0}" 'BEGIN {
    if (p > 0 && w != "other") printf "%-8s %9.4f %12.3f\n", w, t / 1e6, t / p; else printf "%-8s %9.4f %12s\n", w, t / 1e6, "" }'
  [ "$width" = other ] || previous=$us
done
rm -f times-*.txt
