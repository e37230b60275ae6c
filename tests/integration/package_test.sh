#!/usr/bin/env sh
# Makes the TGZ and DEB packages of this build and checks what they hold: the
# archive unpacks to one folder that is itself a prefix, the Debian package
# has Debian's file name and layout, and lintian (when installed) reports no
# error and no warning on it.
# The README's lines that unpack the archive into a new folder run as written.
#   package_test.sh BUILD_DIR README
set -eu
build=$1 readme=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/pixmar_*-1_*.deb) || fail "no .deb named pixmar_<version>-1_<arch>.deb: $(ls "$work")"
tgz=$(ls "$work"/pixmar-*-Linux-*.tar.gz) || fail "no pixmar-<version>-Linux-<arch>.tar.gz: $(ls "$work")"
top=$(basename "$tgz" .tar.gz)
dpkg-deb -c "$deb" >"$work/deb.txt"
tar -tzf "$tgz" >"$work/tgz.txt"

for file in bin/pixmar bin/pixmar-preview share/man/man1/pixmar.1.gz share/man/man1/pixmar-preview.1.gz \
  share/doc/pixmar/copyright share/doc/pixmar/changelog.Debian.gz share/doc/pixmar/doc/web.md lib/cmake/Pixmar/PixmarConfig.cmake \
  lib/cmake/Pixmar/PixmarConfigVersion.cmake lib/cmake/Pixmar/PixmarTargets.cmake \
  lib/cmake/Pixmar/PixmarBitmapHeader.cmake; do
  grep -q "\./usr/$file\$" "$work/deb.txt" || { cat "$work/deb.txt"; fail "usr/$file missing from the .deb"; }
  grep -qx "$top/$file" "$work/tgz.txt" || { cat "$work/tgz.txt"; fail "$top/$file missing from the archive"; }
done
[ -z "$(grep -v "^$top/" "$work/tgz.txt")" ] || fail "the archive holds more than its top folder $top/"
# The page, when this build was given one.
if grep -q '^PIXMAR_WEB_PAGE:FILEPATH=.' "$build/CMakeCache.txt"; then
  grep -q "\./usr/share/pixmar/web/index.html\$" "$work/deb.txt" && grep -qx "$top/share/pixmar/web/index.html" "$work/tgz.txt" ||
    fail "the packages lack share/pixmar/web/index.html"
  echo "packages: they carry the page"
fi

# The README's unpacking lines, in a home of their own, from a folder whose
# build/ holds the packages.
mkdir -p "$work/checkout" "$work/home"
ln -s "$work" "$work/checkout/build"
unpack=$(grep -m 1 '^mkdir -p "$HOME/opt" && tar -xzf' "$readme") || fail "the README has no unpacking line"
path_line=$(grep -m 1 '^export PATH="$HOME/opt/' "$readme") || fail "the README has no PATH line"
(cd "$work/checkout" && HOME="$work/home" && export HOME && eval "$unpack" && eval "$path_line" &&
  pixmar --version >"$work/version.txt") || fail "the README's unpacking lines: $unpack"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
grep -q "Version $version," "$work/version.txt" || fail "the unpacked pixmar printed $(cat "$work/version.txt"), not version $version"

if command -v lintian >/dev/null; then
  # lintian leaves a cache file in its temporary folder: that is the work folder here.
  TMPDIR="$work" lintian "$deb" >"$work/lintian.txt" 2>&1 || true
  if grep -E '^(E|W):' "$work/lintian.txt"; then
    fail "lintian reports errors or warnings"
  fi
  echo "lintian: no error, no warning"
else
  echo "lintian not installed: the .deb was not checked by it"
fi
echo "packages: the archive is a prefix under $top/, the .deb has Debian's name and layout"
