#!/usr/bin/env bash
# Wall time and peak memory of pixmar against the I/O floor, in one run.
#   bench/run.sh [RUNS]
# Builds a Release binary, makes the workloads (pseudo-random pixels), then for
# each workload alternates the floor (read the input, write as many bytes as
# the header has) with pixmar, RUNS times, and prints medians. Needs
# /usr/bin/time (Debian package "time").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${1:-9}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMAR_BUILD_TESTS=OFF -DPIXMAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target pixmar make_noise >/dev/null
work="$build/work"
mkdir -p "$work"
cd "$work"
[ -f big.bmp ] || "$build/bench/make_noise" 4096 4096 big.bmp
[ -f small.bmp ] || "$build/bench/make_noise" 640 480 small.bmp

now() { date +%s%N; }
# Runs a command under /usr/bin/time; prints "seconds peak_kib".
measure() {
  local start end
  start=$(now)
  /usr/bin/time -f %M -o rss.txt "$@" >/dev/null
  end=$(now)
  echo "$(( (end - start) / 1000 )) $(cat rss.txt)"
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-16s %10s %10s %7s %10s %10s\n' workload pixmar_s floor_s ratio peak_MiB limit_MiB
for image in big small; do
  for switch in off on; do
    args=("$image.bmp"); [ "$switch" = on ] && args=(-MP "$image.bmp")
    "$build/pixmar" "${args[@]}" >/dev/null
    out_bytes=$(stat -c %s "$image.bmp.h")
    in_bytes=$(stat -c %s "$image.bmp")
    : >tool.txt; : >floor.txt
    for _ in $(seq "$runs"); do
      measure sh -c "cat $image.bmp >/dev/null; head -c $out_bytes /dev/zero >floor.h" >>floor.txt
      measure "$build/pixmar" "${args[@]}" >>tool.txt
    done
    tool_us=$(cut -d' ' -f1 tool.txt | median)
    floor_us=$(cut -d' ' -f1 floor.txt | median)
    peak_kib=$(cut -d' ' -f2 tool.txt | sort -n | tail -n 1)
    awk -v w="$image-$switch" -v t="$tool_us" -v f="$floor_us" -v p="$peak_kib" -v i="$in_bytes" 'BEGIN {
      printf "%-16s %10.4f %10.4f %7.2f %10.1f %10.1f\n", w, t / 1e6, f / 1e6, t / f, p / 1024, i / 1048576 + 16 }'
  done
done
rm -f floor.h rss.txt tool.txt floor.txt
