#!/usr/bin/env bash
# What a build with many bitmaps pays for pixmar_add_bitmap_header, in one run.
#   bench/many_bitmaps.sh [RUNS] [COUNT] [OTHER_FUNCTION_FILE]
# Makes COUNT (200) bitmaps of 64 x 64 pseudo-random pixels and a project that
# turns them into headers with pixmar_add_bitmap_header (Ninja where it is
# installed, -j2), then alternates, RUNS (9) times each:
#   build:  every bitmap touched, then the build that makes their headers again;
#   direct: pixmar run on the same files directly, two at a time (xargs -P2).
# It prints the medians and their ratio. With OTHER_FUNCTION_FILE (an earlier
# cmake/PixmarBitmapHeader.cmake, say), a second project built with that file
# runs in the same rotation and gets a row of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
runs=${1:-9}
count=${2:-200}
other=${3:-}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMAR_BUILD_TESTS=OFF -DPIXMAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 >/dev/null  # everything: the install needs the man pages too
work="$build/many"
rm -rf "$work"
mkdir -p "$work/assets" "$work/direct"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
generator="Unix Makefiles"
command -v ninja >/dev/null && generator=Ninja

names=()
for i in $(seq "$count"); do
  "$build/bench/make_noise" 64 64 "$work/assets/image_$i.bmp" >/dev/null
  names+=("image_$i.bmp")
done
cp "$work/assets/"*.bmp "$work/direct/"

# project DIR FUNCTION_FILE: a program whose headers are the bitmaps'.
project() {
  mkdir -p "$1"
  echo 'int main(void) { return 0; }' >"$1/main.c"
  {
    echo 'cmake_minimum_required(VERSION 3.20)'
    echo 'project(Many C)'
    echo 'find_package(Pixmar REQUIRED)'
    [ -n "$2" ] && echo "include(\"$2\")"
    echo 'add_executable(game main.c)'
    echo "pixmar_add_bitmap_header(game BITMAPS $(printf '../assets/%s ' "${names[@]}") MAGIC_PINK)"
  } >"$1/CMakeLists.txt"
  cmake -S "$1" -B "$1/build" -G "$generator" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
  cmake --build "$1/build" -j2 >/dev/null
}
project "$work/project" ""
[ -n "$other" ] && project "$work/other" "$(cd "$(dirname "$other")" && pwd)/$(basename "$other")"

now() { date +%s%N; }
# Prints the microseconds "$@" takes, after every bitmap is touched.
timed() {
  touch "$work/assets/"*.bmp "$work/direct/"*.bmp
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  echo $(( (end - start) / 1000 ))
}
direct() { (cd "$work/direct" && printf '%s\n' *.bmp | xargs -P2 -n1 "$build/pixmar" -MP); }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: >"$work/build.txt"; : >"$work/direct.txt"; : >"$work/other.txt"
for _ in $(seq "$runs"); do
  timed cmake --build "$work/project/build" -j2 >>"$work/build.txt"
  timed direct >>"$work/direct.txt"
  [ -n "$other" ] && timed cmake --build "$work/other/build" -j2 >>"$work/other.txt"
done

direct_us=$(median <"$work/direct.txt")
echo "$(uname -m), $(nproc) cores, $(date -u +%Y-%m-%d), $generator, $count bitmaps of 64 x 64, $runs runs each, medians"
row() {
  awk -v w="$1" -v t="$(median <"$2")" -v d="$direct_us" 'BEGIN { printf "%-16s %9.3f s %9.3f s %7.2f x\n", w, t / 1e6, d / 1e6, t / d }'
}
printf '%-16s %11s %11s %9s\n' what build direct ratio
row build "$work/build.txt"
[ -n "$other" ] && row "build (other)" "$work/other.txt"
exit 0
