#!/usr/bin/env sh
# Makes the TGZ and DEB packages of this build and checks what they hold.
#   package_test.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb=$(ls "$work"/*.deb) && tgz=$(ls "$work"/*.tar.gz)
dpkg-deb -c "$deb" >"$work/deb.txt"
tar -tzf "$tgz" >"$work/tgz.txt"
for file in usr/bin/pixmar usr/bin/pixmar-preview usr/share/man/man1/pixmar.1 usr/lib/cmake/Pixmar/PixmarConfig.cmake \
  usr/lib/cmake/Pixmar/PixmarConfigVersion.cmake usr/lib/cmake/Pixmar/PixmarTargets.cmake \
  usr/lib/cmake/Pixmar/PixmarBitmapHeader.cmake; do
  grep -q "\./$file\$" "$work/deb.txt" || { cat "$work/deb.txt"; echo "FAILED: $file missing from the .deb"; exit 1; }
  grep -q "${file#usr/}\$" "$work/tgz.txt" || { cat "$work/tgz.txt"; echo "FAILED: $file missing from the archive"; exit 1; }
done
echo "packages hold the tool, the man page and the CMake package"
