#!/usr/bin/env bash
# Wall time and peak memory of pixmar against the I/O floors, in one run.
#   bench/run.sh [RUNS] [OTHER_PIXMAR]
# Builds a Release binary, makes the workloads (pseudo-random pixels), then for
# each case, workload and switch (off, on) alternates pixmar with the two
# floors of bench/io_floor.cpp (read the input whole, write as many bytes as
# the header has to a temporary file renamed over it), RUNS times each, each
# run after a sync, and prints medians:
#   hold:  the floor that writes and renames;
#   early: the same, handing each written 1 MiB block to the disk at once.
# The cases: "replace" runs over an existing header, as a rebuild does;
# "first" removes the header before each run, so it is made for the first
# time. With OTHER_PIXMAR (an earlier build, say), that binary runs in the
# same rotation and gets rows of its own, so before and after compare in one
# run. Needs /usr/bin/time (Debian package "time").
set -euo pipefail
runs=${1:-9}
other=${2:-}
source "$(dirname "$0")/prepare.sh" pixmar io_floor
[ -f small.bmp ] || "$build/bench/make_noise" 640 480 small.bmp

# Runs a command under /usr/bin/time, writing OUTPUT; prints "microseconds
# peak_kib". Each run starts after sync, so no run pays for writing back an
# earlier one's data.
measure() {
  local output=$1 start end
  shift
  [ "$case" = replace ] || rm -f "$output"
  sync
  start=$(now)
  /usr/bin/time -f %M -o rss.txt "$@" >/dev/null
  end=$(now)
  echo "$(( (end - start) / 1000 )) $(cat rss.txt)"
}

echo "$(uname -m), $(nproc) cores, $(date -u +%Y-%m-%d), $runs runs each, medians"
printf '%-8s %-17s %9s %9s %9s %7s %7s %9s %9s\n' case workload pixmar_s hold_s early_s /hold /early peak_MiB limit_MiB
# Prints one row from a file of times.
row() {
  local name=$1 times=$2 tool_us hold_us early_us peak_kib
  tool_us=$(cut -d' ' -f1 "$times" | median)
  hold_us=$(cut -d' ' -f1 hold.txt | median)
  early_us=$(cut -d' ' -f1 early.txt | median)
  peak_kib=$(cut -d' ' -f2 "$times" | sort -n | tail -n 1)
  awk -v c="$case" -v w="$name" -v t="$tool_us" -v h="$hold_us" -v e="$early_us" -v k="$peak_kib" -v i="$in_bytes" 'BEGIN {
    printf "%-8s %-17s %9.4f %9.4f %9.4f %7.2f %7.2f %9.1f %9.1f\n", c, w, t / 1e6, h / 1e6, e / 1e6, t / h, t / e, k / 1024, i / 1048576 + 16 }'
}
for case in replace first; do
  for image in big small; do
    for switch in off on; do
      args=("$image.bmp"); [ "$switch" = on ] && args=(-MP "$image.bmp")
      "$build/pixmar" "${args[@]}" >/dev/null
      out_bytes=$(stat -c %s "$image.bmp.h")
      in_bytes=$(stat -c %s "$image.bmp")
      cp "$image.bmp.h" floor.h
      : >tool.txt; : >other.txt; : >hold.txt; : >early.txt
      for _ in $(seq "$runs"); do
        measure floor.h "$build/bench/io_floor" hold "$image.bmp" "$out_bytes" floor.h >>hold.txt
        measure "$image.bmp.h" "$build/pixmar" "${args[@]}" >>tool.txt
        measure floor.h "$build/bench/io_floor" early "$image.bmp" "$out_bytes" floor.h >>early.txt
        if [ -n "$other" ]; then measure "$image.bmp.h" "$other" "${args[@]}" >>other.txt; fi
      done
      row "$image-$switch" tool.txt
      if [ -n "$other" ]; then row "$image-$switch-before" other.txt; fi
    done
  done
done
rm -f floor.h rss.txt tool.txt other.txt hold.txt early.txt
