#!/usr/bin/env bash
# The page's conversion of a 4096 x 4096 bitmap, and of 200 small ones at
# once, in headless chromium against the native command line, in one
# rotation (bench/web_bench.cjs).
#   bench/web.sh [RUNS]
# Needs Debian's emscripten and chromium, and npm for puppeteer-core (the
# version the tests pin; it downloads no browser).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
web=${WEB_BUILD_DIR:-$root/build-web}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIXMAR_BUILD_TESTS=OFF -DPIXMAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target pixmar make_noise >/dev/null
(cd "$root" && NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B "$web" >/dev/null && NODE_PATH=/usr/share/nodejs cmake --build "$web" -j2 >/dev/null)
mkdir -p "$web/browser-test" "$build/work"
cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$web/browser-test/"
npm ci --prefix "$web/browser-test" --no-audit --no-fund >/dev/null
[ -f "$build/work/big.bmp" ] || "$build/bench/make_noise" 4096 4096 "$build/work/big.bmp"
PIXMAR_PAGE="$web/web/index.html" PIXMAR="$build/pixmar" BITMAP="$build/work/big.bmp" MAKE_NOISE="$build/bench/make_noise" \
  NODE_PATH="$web/browser-test/node_modules" node "$root/bench/web_bench.cjs" "${1:-9}"
