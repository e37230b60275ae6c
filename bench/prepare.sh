# Sourced by the benchmark scripts: builds the Release benchmark build's
# targets named as arguments (make_noise always), enters its work folder and
# makes the 4096 x 4096 pseudo-random bitmap big.bmp there once. Sets root,
# build and work; defines now (nanoseconds) and median (of numbers on stdin).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
work="$build/work"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMAR_BUILD_TESTS=OFF -DPIXMAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target make_noise "$@" >/dev/null
mkdir -p "$work"
cd "$work"
[ -f big.bmp ] || "$build/bench/make_noise" 4096 4096 big.bmp
now() { date +%s%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
