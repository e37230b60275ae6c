#!/usr/bin/env sh
# Checks of the Windows build that need the build machine's shell around Wine:
#   host_checks.sh WINE PIXMAR_EXE SAMPLE_BMP [NATIVE_PIXMAR]
# 1. Under a file-size limit (SIGXFSZ ignored, so writes fail with an error)
#    the conversion fails with status 6, the older header stays byte for byte
#    and no temporary file is left.
# 2. Ctrl-C (which Wine delivers to a console program as SIGINT) while the
#    header is being written removes the temporary file, keeps the older
#    header and ends with the status of an interrupted program.
# 3. With NATIVE_PIXMAR, both builds write byte-identical headers.
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

# A 4096 x 2048 bitmap of random pixels: its header takes a while to write.
big_bitmap() {
  printf 'BM\066\0\200\001\0\0\0\0\066\0\0\0\050\0\0\0\0\020\0\0\0\010\0\0\001\0\030\0'
  printf '\0\0\0\0\0\0\200\001\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
  head -c 25165824 /dev/urandom
}
big_bitmap > big.bmp
printf 'older header\r\n' > big.bmp.h
cp big.bmp.h older.h
interrupted=no
for attempt in 1 2 3 4 5; do
  "$wine" "$exe" big.bmp > /dev/null 2>&1 &
  runner=$!
  for _ in $(seq 6000); do
    ls | grep -q '^pixmar-.*\.tmp$' && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.005
  done
  pid=$(pgrep -f "$exe big.bmp" | head -n 1 || true)
  if ls | grep -q '^pixmar-.*\.tmp$' && [ -n "$pid" ]; then
    kill -INT "$pid"
    status=0
    wait "$runner" || status=$?
    # The run may have renamed its complete header between the look and the
    # signal: that proves nothing either, so it is tried again.
    if ! cmp -s big.bmp.h older.h && tail -c 19 big.bmp.h | grep -q 'END OF FILE'; then
      cp older.h big.bmp.h
      continue
    fi
    interrupted=yes
    break
  fi
  wait "$runner"
  cp older.h big.bmp.h   # finished before it could be interrupted: try again
done
[ "$interrupted" = yes ] || fail "five runs finished before their temporary file was seen"
[ "$status" -ne 0 ] || fail "an interrupted run ended with status 0"
cmp -s big.bmp.h older.h || fail "the older header changed when interrupted"
[ -z "$(ls | grep '^pixmar-')" ] || fail "an interrupted run left: $(ls | grep '^pixmar-')"
echo "Ctrl-C under Wine: status $status, older header intact, no temporary file left"
rm -f big.bmp big.bmp.h

if [ -n "$native" ]; then
  for switch in "" "-MP"; do
    "$wine" "$exe" $switch sample.bmp > /dev/null 2>&1 || fail "Windows build $switch"
    mv sample.bmp.h windows.h
    "$native" $switch sample.bmp > /dev/null || fail "native build $switch"
    cmp sample.bmp.h windows.h || fail "headers differ ($switch)"
  done
  echo "Windows and native builds write byte-identical headers"
fi
