#!/usr/bin/env sh
# Checks of the Windows build that need the build machine's shell around Wine:
#   host_checks.sh WINE PIXMAR_EXE SAMPLE_BMP [NATIVE_PIXMAR]
# 1. Under a file-size limit (SIGXFSZ ignored, so writes fail with an error)
#    the conversion fails with status 6, the older header stays byte for byte
#    and no temporary file is left.
# 2. With NATIVE_PIXMAR, both builds write byte-identical headers.
set -u
wine=$1 exe=$2 sample=$3 native=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cp "$sample" "$work/sample.bmp"
cd "$work" || exit 1
"$wine" cmd /c exit >/dev/null 2>&1  # starts the Wine server outside the limit

printf 'older header\r\n' > sample.bmp.h
cp sample.bmp.h older.h
(ulimit -f 8; trap '' XFSZ; "$wine" "$exe" sample.bmp > out.txt 2>/dev/null)
status=$?
[ "$status" -eq 6 ] || fail "status $status under a file-size limit, expected 6"
[ "$(tail -n 1 out.txt)" = "$(printf 'ERROR: error writing file: sample.bmp.h\r')" ] || fail "last line: $(tail -n 1 out.txt)"
cmp -s sample.bmp.h older.h || fail "the older header changed"
[ -z "$(ls | grep -v -x -e sample.bmp -e sample.bmp.h -e older.h -e out.txt)" ] || fail "left behind: $(ls)"
echo "failed write under Wine: status 6, older header intact, nothing left behind"

if [ -n "$native" ]; then
  for switch in "" "-MP"; do
    "$wine" "$exe" $switch sample.bmp > /dev/null 2>&1 || fail "Windows build $switch"
    mv sample.bmp.h windows.h
    "$native" $switch sample.bmp > /dev/null || fail "native build $switch"
    cmp sample.bmp.h windows.h || fail "headers differ ($switch)"
  done
  echo "Windows and native builds write byte-identical headers"
fi
