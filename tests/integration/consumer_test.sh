#!/usr/bin/env sh
# Builds the example consumer outside the source tree, against an install of
# this build or through add_subdirectory, runs it, and checks that headers
# are made in the build tree and made again only when their inputs change.
# "archive" builds against the unpacked .tar.gz that cpack makes.
#   consumer_test.sh installed|archive|subdirectory SOURCE_DIR BUILD_DIR GENERATOR
set -eu
mode=$1 source=$2 build=$3 generator=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
# CMake wraps a message's long lines wherever the words fall, so a phrase is
# looked for in the log read as one line.
says() { tr -s '\n ' '  ' <"$1" | grep -q -- "$2"; }

cp -r "$source/examples/consumer" "$work/consumer"
cp "$source/examples/sample.bmp" "$work/sample.bmp"
if [ "$mode" = installed ]; then
  cmake --install "$build" --prefix "$work/prefix" >/dev/null
  for file in bin/pixmar bin/pixmar-preview share/man/man1/pixmar.1.gz share/man/man1/pixmar-preview.1.gz; do
    [ -f "$work/prefix/$file" ] || fail "the install lacks $file"
  done
  where="-DCMAKE_PREFIX_PATH=$work/prefix"
elif [ "$mode" = archive ]; then
  cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$work/package" >/dev/null
  tar -xzf "$work"/package/pixmar-*.tar.gz -C "$work/package"
  where="-DCMAKE_PREFIX_PATH=$(ls -d "$work"/package/pixmar-*/)"
else
  where="-DPIXMAR_SOURCE_DIR=$source"
fi
cmake -S "$work/consumer" -B "$work/build" -G "$generator" "$where" >/dev/null
cmake --build "$work/build" >"$work/log" 2>&1 || { cat "$work/log"; fail "first build"; }
# Brought in as a subproject, Pixmar leaves the parent's build type as the parent set it: unset.
[ "$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$work/build/CMakeCache.txt")" = "" ] ||
  fail "the parent's build type became $(grep '^CMAKE_BUILD_TYPE:' "$work/build/CMakeCache.txt")"

"$work/build/show_sample_c" >"$work/out_c"
"$work/build/show_sample_cpp" >"$work/out_cpp"
printf 'C: 64 x 48, 3072 pixels\nfirst words: 0xFF80FF80 0xFF80FF80 0xE100E194 0xE100E194\n' | cmp - "$work/out_c" ||
  fail "C program printed: $(cat "$work/out_c")"
printf 'C++: 64 x 48, 3072 pixels\nfirst words: 0xFF80FF80 0xFF80FF80 0xE100E194 0xE100E194\n' | cmp - "$work/out_cpp" ||
  fail "C++ program printed: $(cat "$work/out_cpp")"
[ -f "$work/build/pixmar_headers/show_sample_c/sample.bmp.h" ] || fail "no header in the build tree"
[ -z "$(find "$work/consumer" -name '*.h')" ] && [ ! -e "$work/sample.bmp.h" ] || fail "a header beside the sources"
grep -q "SAMPLE_WIDTH   (64)" "$work/build/pixmar_headers/show_sample_cpp/sample.bmp.h" || fail "macro names"

converted() { cmake --build "$work/build" 2>&1 | grep -c "Converting sample.bmp" || true; }
[ "$(converted)" = 0 ] || fail "headers made again with nothing changed"
sleep 1 && touch "$work/sample.bmp"
[ "$(converted)" = 2 ] || fail "headers not made again after the bitmap was touched"
if [ "$mode" = installed ]; then
  sleep 1 && touch "$work/prefix/bin/pixmar"
  [ "$(converted)" = 2 ] || fail "headers not made again after the tool changed"

  # project NAME BITMAPS...: a program of its own, in $work/NAME, whose
  # bitmaps are the files named (relative to its folder).
  project() {
    name=$1; shift
    mkdir -p "$work/$name"
    printf 'cmake_minimum_required(VERSION 3.20)\nproject(%s C)\nfind_package(Pixmar REQUIRED)\nadd_executable(%s main.c)\npixmar_add_bitmap_header(%s BITMAPS %s)\n' \
      "$name" "$name" "$name" "$*" >"$work/$name/CMakeLists.txt"
    echo 'int main(void) { return 0; }' >"$work/$name/main.c"
  }
  # configure_fails NAME [OPTION...]: configuring it must fail; its messages go to $work/NAME.log.
  configure_fails() {
    project_name=$1; shift
    if cmake -S "$work/$project_name" -B "$work/$project_name/build" -G "$generator" "$where" "$@" >"$work/$project_name.log" 2>&1; then
      fail "the configure step of $project_name was accepted"
    fi
  }

  # Names that are no C identifiers stop the configure step, naming the file,
  # a new name, and a call that keeps the file as it is and the call's
  # MAGIC_PINK: pasted as printed, it builds, with the Magic Pink rule.
  project bad '"assets/2-hud logo.bmp" MAGIC_PINK'
  mkdir -p "$work/bad/assets"
  cp "$work/sample.bmp" "$work/bad/assets/2-hud logo.bmp"
  configure_fails bad
  says "$work/bad.log" "2-hud logo.bmp" && says "$work/bad.log" "image_2_hud_logo.bmp" ||
    { cat "$work/bad.log"; fail "the message does not name the file and a new name"; }
  suggested=$(sed -n 's/^ *\(pixmar_add_bitmap_header(bad BITMAP .*\)$/\1/p' "$work/bad.log")
  [ "$suggested" = 'pixmar_add_bitmap_header(bad BITMAP "assets/2-hud logo.bmp" NAME image_2_hud_logo MAGIC_PINK)' ] ||
    { cat "$work/bad.log"; fail "the suggested call: $suggested"; }
  { head -n 4 "$work/bad/CMakeLists.txt"; echo "$suggested"; } >"$work/bad/pasted.txt"
  mv "$work/bad/pasted.txt" "$work/bad/CMakeLists.txt"
  # Word 1165 of the sample is a half-pink pair: 0x68800080 with the rule, 0x68AA69B5 without.
  printf '#include "image_2_hud_logo.bmp.h"\nint main(void) { return IMAGE_2_HUD_LOGO_WIDTH == 64 && image_2_hud_logo_Bitmap[4] == 0xE100E194 && image_2_hud_logo_Bitmap[1165] == 0x68800080 ? 0 : 1; }\n' >"$work/bad/main.c"
  rm -rf "$work/bad/build"
  cmake -S "$work/bad" -B "$work/bad/build" -G "$generator" "$where" >"$work/bad.log" 2>&1 &&
    cmake --build "$work/bad/build" >>"$work/bad.log" 2>&1 && "$work/bad/build/bad" ||
    { cat "$work/bad.log"; fail "the suggested call, pasted"; }
  # A bitmap refused on a rebuild fails every build and keeps its last good header.
  header="$work/bad/build/pixmar_headers/bad/image_2_hud_logo.bmp.h"
  cp "$header" "$work/bad/header.before"
  sleep 1 && printf 'GIF89a, not a bitmap' >"$work/bad/assets/2-hud logo.bmp"
  for build in first second; do
    if cmake --build "$work/bad/build" >"$work/bad.log" 2>&1; then fail "the $build build after the bitmap went bad succeeded"; fi
  done
  cmp -s "$header" "$work/bad/header.before" || fail "a refused rebuild did not keep the last good header"

  # Two bitmaps of one bare name in one target stop the configure step,
  # naming both files.
  project twice assets/logo.bmp assets/hud/logo.bmp
  mkdir -p "$work/twice/assets/hud"
  cp "$work/sample.bmp" "$work/twice/assets/logo.bmp"
  cp "$work/sample.bmp" "$work/twice/assets/hud/logo.bmp"
  configure_fails twice
  says "$work/twice.log" "twice/assets/logo.bmp' and" && says "$work/twice.log" "twice/assets/hud/logo.bmp' would both" ||
    { cat "$work/twice.log"; fail "the message does not name both files"; }

  # A name of the build's choosing, with the README's line as written: any
  # file name, the C names from NAME. Then a NAME that is no C identifier,
  # and a second bitmap of the same name, each stop the configure step.
  mkdir -p "$work/game/art/2x"
  cp "$work/sample.bmp" "$work/game/art/2x/my-logo.bmp"
  cp "$work/sample.bmp" "$work/game/art/other.bmp"
  { printf 'cmake_minimum_required(VERSION 3.20)\nproject(game C)\nfind_package(Pixmar REQUIRED)\nadd_executable(game main.c)\n'
    grep -m 1 '^pixmar_add_bitmap_header(game BITMAP ' "$source/README.md" | sed "s/hud_logo/\${LOGO}/"
    printf 'if(AGAIN)\n  pixmar_add_bitmap_header(game BITMAP art/other.bmp NAME ${AGAIN})\nendif()\n'
  } >"$work/game/CMakeLists.txt"
  printf '#include "hud_logo.bmp.h"\nint main(void) { return HUD_LOGO_WIDTH == 64 && HUD_LOGO_SIZE == 3072 && hud_logo_Bitmap[4] == 0xE100E194 && hud_logo_Bitmap[1165] == 0x68800080 ? 0 : 1; }\n' >"$work/game/main.c"
  cmake -S "$work/game" -B "$work/game/build" -G "$generator" "$where" -DLOGO=hud_logo >/dev/null &&
    cmake --build "$work/game/build" >"$work/game.log" 2>&1 && "$work/game/build/game" ||
    { cat "$work/game.log"; fail "the NAME form"; }
  for case in "2x-logo::not a C identifier" "hud_logo:hud_logo:would both become"; do
    name=${case%%:*} again=${case#*:} again=${again%%:*} message=${case##*:}
    rm -rf "$work/game/build"
    configure_fails game -DLOGO="$name" -DAGAIN="$again"
    says "$work/game.log" "$message" || { cat "$work/game.log"; fail "NAME $name, then $again: no '$message'"; }
  done

  # A refused bitmap fails the build and leaves nothing behind in the build
  # tree but the stand-in link made at configure time, with links and with copies.
  project refused logo.bmp
  printf 'GIF89a, not a bitmap' >"$work/refused/logo.bmp"
  for copies in OFF ON; do
    rm -rf "$work/refused/build"
    cmake -S "$work/refused" -B "$work/refused/build" -G "$generator" "$where" -DPIXMAR_BITMAP_COPIES=$copies >/dev/null
    if cmake --build "$work/refused/build" >"$work/refused.log" 2>&1; then
      fail "a refused bitmap built (copies $copies)"
    fi
    grep -q "Header error: bad type" "$work/refused.log" || { cat "$work/refused.log"; fail "pixmar's message is not shown"; }
    left=$(ls -A "$work/refused/build/pixmar_headers/refused")
    expected_left=logo.bmp; [ "$copies" = ON ] && expected_left=
    [ "$left" = "$expected_left" ] || fail "a refused bitmap left '$left' (copies $copies)"
    [ "$copies" = ON ] || [ -L "$work/refused/build/pixmar_headers/refused/logo.bmp" ] || fail "the stand-in is not a link"
  done
  [ "$(cat "$work/refused/logo.bmp")" = "GIF89a, not a bitmap" ] || fail "the refused bitmap itself was changed"

  # Where links are not used, copies made at build time give the same headers.
  cmake -S "$work/consumer" -B "$work/copies" -G "$generator" "$where" -DPIXMAR_BITMAP_COPIES=ON >/dev/null
  cmake --build "$work/copies" >"$work/copies.log" 2>&1 || { cat "$work/copies.log"; fail "the build with copies"; }
  cmp "$work/build/pixmar_headers/show_sample_c/sample.bmp.h" "$work/copies/pixmar_headers/show_sample_c/sample.bmp.h" ||
    fail "a header made from a copy differs"
  [ "$(ls "$work/copies/pixmar_headers/show_sample_c")" = "sample.bmp.h" ] || fail "the copy was left behind"
fi
echo "consumer ($mode): built, ran, and made its headers again exactly when needed"
