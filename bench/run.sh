#!/usr/bin/env bash
# Wall time and peak memory of pixmar against the I/O floor, in one run.
#   bench/run.sh [RUNS] [OTHER_PIXMAR]
# Builds a Release binary, makes the workloads (pseudo-random pixels), then for
# each workload, with the switch off and on, alternates pixmar with three
# floors (bench/io_floor.cpp: read the input, write as many bytes as the
# header has), RUNS times each, over an existing header as a build would, each
# run after a sync, and prints medians:
#   hold:    the input read whole into a buffer of its size, then the bytes
#            written to a temporary file renamed over the header: what the
#            one-pass design must spend, and the headline ratio;
#   replace: the same, reading the input a block at a time;
#   plain:   the bytes overwrite the header in place.
# With OTHER_PIXMAR (an earlier build, say), that binary runs in the same
# rotation and gets rows of its own, so before and after compare in one run.
# With FIRST_HEADER=1 in the environment, every run first removes the file it
# writes, so each one makes its header for the first time instead.
# Needs /usr/bin/time (Debian package "time").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${1:-9}
other=${2:-}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMAR_BUILD_TESTS=OFF -DPIXMAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target pixmar make_noise io_floor >/dev/null
work="$build/work"
mkdir -p "$work"
cd "$work"
[ -f big.bmp ] || "$build/bench/make_noise" 4096 4096 big.bmp
[ -f small.bmp ] || "$build/bench/make_noise" 640 480 small.bmp

now() { date +%s%N; }
# Runs a command under /usr/bin/time; prints "microseconds peak_kib". Each
# run starts after sync, so no run pays for writing back an earlier one's data.
measure() {
  local start end
  [ -z "${FIRST_HEADER:-}" ] || rm -f floor.h "$image.bmp.h"
  sync
  start=$(now)
  /usr/bin/time -f %M -o rss.txt "$@" >/dev/null
  end=$(now)
  echo "$(( (end - start) / 1000 )) $(cat rss.txt)"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

echo "$(uname -m), $(nproc) cores, $(date -u +%Y-%m-%d), $runs runs each, medians${FIRST_HEADER:+, every header made for the first time}"
printf '%-14s %9s %9s %9s %9s %7s %8s %7s %9s %9s\n' workload pixmar_s hold_s replace_s plain_s /hold /replace /plain peak_MiB limit_MiB
# Prints one row from the files of times.
row() {
  local name=$1 times=$2 tool_us hold_us replace_us plain_us peak_kib
  tool_us=$(cut -d' ' -f1 "$times" | median)
  hold_us=$(cut -d' ' -f1 hold.txt | median)
  replace_us=$(cut -d' ' -f1 replace.txt | median)
  plain_us=$(cut -d' ' -f1 plain.txt | median)
  peak_kib=$(cut -d' ' -f2 "$times" | sort -n | tail -n 1)
  awk -v w="$name" -v t="$tool_us" -v h="$hold_us" -v r="$replace_us" -v p="$plain_us" -v k="$peak_kib" -v i="$in_bytes" 'BEGIN {
    printf "%-14s %9.4f %9.4f %9.4f %9.4f %7.2f %8.2f %7.2f %9.1f %9.1f\n", w, t / 1e6, h / 1e6, r / 1e6, p / 1e6, t / h, t / r, t / p, k / 1024, i / 1048576 + 16 }'
}
for image in big small; do
  for switch in off on; do
    args=("$image.bmp"); [ "$switch" = on ] && args=(-MP "$image.bmp")
    "$build/pixmar" "${args[@]}" >/dev/null
    out_bytes=$(stat -c %s "$image.bmp.h")
    in_bytes=$(stat -c %s "$image.bmp")
    cp "$image.bmp.h" floor.h
    : >tool.txt; : >other.txt; : >hold.txt; : >replace.txt; : >plain.txt
    for _ in $(seq "$runs"); do
      measure "$build/bench/io_floor" hold "$image.bmp" "$out_bytes" floor.h >>hold.txt
      measure "$build/bench/io_floor" replace "$image.bmp" "$out_bytes" floor.h >>replace.txt
      measure "$build/pixmar" "${args[@]}" >>tool.txt
      measure "$build/bench/io_floor" plain "$image.bmp" "$out_bytes" floor.h >>plain.txt
      if [ -n "$other" ]; then measure "$other" "${args[@]}" >>other.txt; fi
    done
    row "$image-$switch" tool.txt
    if [ -n "$other" ]; then row "$image-$switch-other" other.txt; fi
  done
done
rm -f floor.h rss.txt tool.txt other.txt hold.txt replace.txt plain.txt
