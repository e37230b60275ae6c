#!/usr/bin/env sh
# Makes the documents' pictures. Of the preview: the sample (left) beside its
# decoded header (right, Magic Pink rule on), and the key map of the same
# conversion, each enlarged 4 times pixel for pixel (nearest neighbour), so
# the colour edges they show stay sharp. With a build of the page, its two
# screenshots too, from the browser test, with the words the page showed
# (doc/browser-*.txt), which the browser test then checks the page still
# shows. A documentation step only: needs a build of the tools, Debian's
# netpbm (bmptopnm, pamenlarge, pnmtopng) and, for the screenshots, the
# browser test's packages installed as CONTRIBUTING.md says.
#   doc/make_images.sh BUILD_DIR [WEB_BUILD_DIR]
set -eu
build=$(cd "$1" && pwd)
web=${2:+$(cd "$2" && pwd)}
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
if [ -n "$web" ]; then
  SCREENSHOTS=1 PIXMAR_PAGE="$web/web/index.html" PIXMAR="$build/pixmar" README="$root/README.md" \
    SAMPLE="$root/examples/sample.bmp" NODE_PATH="$web/browser-test/node_modules" \
    node --test "$root/tests/web/browser_test.cjs" >"$work/browser.log" || { cat "$work/browser.log"; exit 1; }
fi
