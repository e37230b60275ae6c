#!/usr/bin/env sh
# Makes the README's pictures of the preview: the sample (left) beside its
# decoded header (right, Magic Pink rule on), and the key map of the same
# conversion, each enlarged 4 times pixel for pixel (nearest neighbour), so
# the colour edges they show stay sharp. A documentation step
# only: needs a build of the tools and Debian's netpbm (bmptopnm, pamenlarge,
# pnmtopng).
#   doc/make_images.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/examples/sample.bmp" "$work/"
cd "$work"
"$build/pixmar" -MP sample.bmp >/dev/null
"$build/pixmar-preview" sample.bmp.h sample.bmp
bmptopnm sample.bmp.h.preview.bmp 2>/dev/null | pamenlarge 4 | pnmtopng >"$root/doc/sample-preview.png"
# The key map of the same conversion, enlarged the same way.
bmptopnm sample.bmp.h.key.bmp 2>/dev/null | pamenlarge 4 | pnmtopng >"$root/doc/sample-key.png"
