#!/usr/bin/env sh
# Runs what the README and the documents beside it (doc/*.md) tell users to
# write, taken from them as written: the recipes for saving bitmaps (each
# whose tool is installed), the C code that unpacks words and shares a header
# between source files, the Make rule, which must leave nothing behind when a
# conversion fails, and the Meson recipe. The README's table of refusals is
# the page's (web/refusals.md), line for line.
#   readme_test.sh README PIXMAR SAMPLE_BMP
set -eu
readme=$1 pixmar=$2 sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

# Every document a user reads, the README first.
documents() { cat "$readme" "$(dirname "$readme")"/doc/*.md; }
# The code block of the documents whose first line starts with $1.
block() {
  documents | awk -v first="$1" '
    /^```/ { if (inside) exit; fence = 1; next }
    fence && index($0, first) == 1 { inside = 1 }
    { fence = 0 }
    inside { print }'
}
# The one line of the documents that starts with $1.
line() { documents | grep -m 1 "^$1" || fail "the documents have no line starting with: $1"; }

# --- The README stays a front page a newcomer reads through; the rest is in doc/.
[ "$(wc -l <"$readme")" -le 300 ] || fail "the README has more than 300 lines"

# --- The table of refusals: the page shows its rows, so it is kept once.
awk '/^### What the refusals mean/ { inside = 1; next } inside && /^\|/ { print; table = 1; next } table { exit }' "$readme" |
  diff - "$(dirname "$readme")/web/refusals.md" || fail "the README's table of refusals differs from web/refusals.md"
echo "refusals: the README's table is the page's"

# --- Recipes: each makes logo.bmp from a logo.png of few colours, which the
# tools' defaults would save with a palette, and odd sizes of nothing.
recipe() {
  name=$1 command=$2
  rm -f "$work/recipe/"*
  (cd "$work/recipe" && sh -c "$3" && sh -c "$command") >"$work/recipe.log" 2>&1 ||
    { cat "$work/recipe.log"; fail "$name: the recipe failed: $command"; }
  (cd "$work/recipe" && "$pixmar" logo.bmp >"$work/pixmar.log") ||
    { cat "$work/pixmar.log"; fail "$name: pixmar refused the recipe's bitmap"; }
  echo "recipe $name: converted with status 0"
}
mkdir -p "$work/recipe"
if convert -version 2>/dev/null | grep -q ImageMagick; then
  recipe ImageMagick "$(line 'convert logo.png -alpha')" 'convert -size 64x48 xc:red -fill blue -draw "rectangle 8,8 30,30" logo.png'
  # An odd width: cropped to 62 columns, or padded to 64.
  odd='convert -size 63x48 xc:red -fill blue -draw "rectangle 8,8 30,30" logo.png'
  recipe "ImageMagick crop" "$(line 'convert logo.png -crop')" "$odd"
  grep -q "Width, Height=(62,48)" "$work/pixmar.log" || fail "the crop recipe did not give 62 x 48"
  recipe "ImageMagick pad" "$(line 'convert logo.png \\( +clone')" "$odd"
  grep -q "Width, Height=(64,48)" "$work/pixmar.log" || fail "the pad recipe did not give 64 x 48"

  # Transparency to magic pink: a 4 x 2 red sprite whose top-left pixel and
  # bottom-left pair are transparent, with one pixel at 70% and one at 30%
  # opacity (kept, and made pink). Worked by hand: transparent beside red
  # gives black beside red, 0x006A4CBF; red beside 30% red, 0x4C6A00BF.
  mkdir -p "$work/sprite"
  (cd "$work/sprite" &&
    convert -size 4x2 xc:red -alpha set -channel A \
      -fx "(j==0&&i==0)||(j==1&&i<2)?0:(j==0&&i==3?0.7:(j==1&&i==3?0.3:1))" +channel sprite.png &&
    sh -c "$(line 'convert sprite.png')" &&
    sh -c "$(line 'pixmar -MP sprite.bmp' | sed "s|^pixmar|'$pixmar'|")" >/dev/null) ||
    fail "the transparency recipe"
  words=$(grep '^0x' "$work/sprite/sprite.bmp.h" | tr -d '\r\n')
  [ "$words" = "0x006A4CBF, 0x4C544CFF, 0x69D469EA, 0x4C6A00BF, " ] || fail "the transparency recipe gave $words"
  echo "recipe transparency: transparent pixels became magic pink, half-covered pairs black and red"

  # Near-pink into the key: 239, 16, 239 (the far corner of near-pink) beside
  # the key becomes a wholly pink pair; 230, 0, 230 (25 off on two channels)
  # stays as it was.
  mkdir -p "$work/near"
  (cd "$work/near" &&
    convert -size 4x1 xc:white -fill 'rgb(239,16,239)' -draw 'point 0,0' -fill 'rgb(255,0,255)' -draw 'point 1,0' \
      -fill 'rgb(230,0,230)' -draw 'point 2,0' -alpha off -type TrueColor BMP3:logo.bmp &&
    sh -c "$(line 'convert logo.bmp -fuzz')" && "$pixmar" -MP logo.bmp >/dev/null) || fail "the near-pink recipe"
  words=$(grep '^0x' "$work/near/logo.bmp.h" | tr -d '\r\n')
  kept=$(convert "$work/near/logo.bmp" -crop 1x1+2+0 -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -n 1)
  [ "${words%%,*}" = 0x69D469EA ] && [ "$kept" = "#E600E6" ] || fail "the near-pink recipe gave $words and $kept"
  echo "recipe near-pink: the near-pink pixel became the key, the one further away stayed"
else
  echo "recipe ImageMagick: skipped, ImageMagick is not installed"
fi
if command -v pngtopnm >/dev/null && command -v ppmtobmp >/dev/null; then
  recipe netpbm "$(line 'pngtopnm logo.png')" 'ppmmake red 64 48 | pnmtopng > logo.png'
else
  echo "recipe netpbm: skipped, netpbm is not installed"
fi
# Pillow may belong to another Python than the first python3 on the PATH.
pillow_python=
for python in python3 /usr/bin/python3; do
  if "$python" -c 'import PIL' 2>/dev/null; then pillow_python=$python; break; fi
done
if [ -n "$pillow_python" ]; then
  recipe Pillow "$(line 'python3 -c' | sed "s|^python3|$pillow_python|")" \
    "$pillow_python -c 'from PIL import Image; Image.new(\"RGBA\", (64, 48), (255, 0, 0, 128)).save(\"logo.png\")'"
else
  echo "recipe Pillow: skipped, Pillow is not installed"
fi
echo "recipe GIMP: not run, it is a dialog (GIMP is not installed here)"

# Transparency to magic pink with netpbm and Pillow, each from a sprite made
# by its own tool: 4 x 2 red, the top-left pixel and the bottom-left pair
# fully transparent, one pixel at 70% and one at 30% opacity (both kept red).
# Worked by hand: transparent beside red gives black beside red, 0x006A4CBF;
# two reds 0x4C544CFF; two pinks the key word.
key_words="0x006A4CBF, 0x4C544CFF, 0x69D469EA, 0x4C544CFF, "
keyed() {
  name=$1 make=$2; shift 2
  rm -rf "$work/keyed" && mkdir -p "$work/keyed"
  (cd "$work/keyed" && sh -c "$make" && for command in "$@"; do sh -c "$command" || exit 1; done &&
    "$pixmar" -MP sprite.bmp >/dev/null) >"$work/keyed.log" 2>&1 || { cat "$work/keyed.log"; fail "the $name transparency recipe"; }
  words=$(grep '^0x' "$work/keyed/sprite.bmp.h" | tr -d '\r\n')
  [ "$words" = "$key_words" ] || fail "the $name transparency recipe gave $words"
  echo "recipe $name transparency: the key colour exactly where the transparent pixels were"
}
if command -v pngtopnm >/dev/null && command -v pamcomp >/dev/null; then
  keyed netpbm "printf 'P2 4 2 255 0 255 255 178 0 0 255 77\n' >a.pgm && ppmmake red 4 2 | pnmtopng -alpha=a.pgm >sprite.png" \
    "$(line 'pngtopnm -alpha sprite.png')" "$(line 'pngtopnm sprite.png | ppmchange')" "$(line 'pngtopnm sprite.png | pamcomp')"
fi
if [ -n "$pillow_python" ]; then
  keyed Pillow "$pillow_python -c 'from PIL import Image; s = Image.new(\"RGBA\", (4, 2), (255, 0, 0, 255)); [s.putpixel(xy, (255, 0, 0, a)) for xy, a in (((0, 0), 0), ((3, 0), 178), ((0, 1), 0), ((1, 1), 0), ((3, 1), 77))]; s.save(\"sprite.png\")'" \
    "$(line "python3 -c 'from PIL import Image; s = " | sed "s|^python3|$pillow_python|")"
fi

# --- The C code: unpack words of the sample's header (with -MP), and share the
# header between files as the README says.
mkdir -p "$work/c"
cp "$sample" "$work/c/logo.bmp"
(cd "$work/c" && "$pixmar" -MP logo.bmp >/dev/null) || fail "converting the sample"
block '/* Unpacks one word of a pixmar header. */' >"$work/c/unpack.h"
block '/* images.c:' >"$work/c/images.c"
block '/* images.h:' >"$work/c/images.h"
[ -s "$work/c/unpack.h" ] && [ -s "$work/c/images.c" ] && [ -s "$work/c/images.h" ] || fail "C blocks missing from the README"
cat >"$work/c/main.c" <<'CODE'
#include <stdio.h>

#include "images.h"
#include "unpack.h"

int main(void)
{
    int pink = 0, i;
    struct pixmar_pair first = pixmar_unpack(logo_Bitmap[0]), fifth = pixmar_unpack(logo_Bitmap[4]);
    for (i = 0; i < logo_width * logo_height / 2; ++i)
        pink += pixmar_is_magic_pink(logo_Bitmap[i]);
    printf("%d x %d: %d %d %d %d, %d %d %d %d, %d pink\n", logo_width, logo_height, first.y0, first.cb, first.y1,
           first.cr, fifth.y0, fifth.cb, fifth.y1, fifth.cr, pink);
    return 0;
}
CODE
cc -std=c99 -pedantic -Wall -Wextra -Werror -o "$work/c/show" "$work/c/main.c" "$work/c/images.c" 2>"$work/cc.log" ||
  { cat "$work/cc.log"; fail "the README's C code does not compile as C99"; }
# Worked by hand: the top row starts white (0xFF80FF80), the second bar is
# yellow (0xE100E194); 64 x 4 words of the pink bar and the pink block, and 16
# of the odd block, stay pink.
expected="64 x 48: 255 128 255 128, 225 0 225 148, 192 pink"
[ "$("$work/c/show")" = "$expected" ] || fail "the C code printed $("$work/c/show"), expected $expected"
echo "C code: compiles as C99 in two files and unpacks the words"

# --- C++ and C mixed: the defining file as C++ (images.cpp, the README's
# images.c text) and as C, with a C++ main and a C file that both use the
# array. One copy: both see it at one address, and one symbol defines it.
if command -v c++ >/dev/null; then
  cp "$work/c/images.c" "$work/c/images.cpp"
  cat >"$work/c/other.c" <<'CODE'
#include "images.h"
#include "unpack.h"

const unsigned long *array_seen_from_c(void) { return logo_Bitmap; }
int unpack_from_c(void) { return pixmar_unpack(logo_Bitmap[4]).cr; }
CODE
  cat >"$work/c/main.cpp" <<'CODE'
#include <cstdio>

#include "images.h"
#include "unpack.h"

extern "C" const unsigned long *array_seen_from_c(void);
extern "C" int unpack_from_c(void);

int main()
{
    int pink = 0;
    for (int i = 0; i < logo_width * logo_height / 2; ++i)
        pink += pixmar_is_magic_pink(logo_Bitmap[i]);
    std::printf("%s, %d pink, cr %d\n", array_seen_from_c() == logo_Bitmap ? "one copy" : "two copies", pink,
                unpack_from_c());
    return 0;
}
CODE
  # The C++ files take C++'s own warnings too: no C-style casts from the README's code.
  flags="-Wall -Wextra -pedantic -Werror"
  for definer in images.cpp images.c; do
    (cd "$work/c" && rm -f ./*.o &&
      cc -std=c99 $flags -c other.c && c++ -std=c++17 $flags -Wold-style-cast -c main.cpp &&
      if [ "$definer" = images.c ]; then cc -std=c99 $flags -c images.c; else c++ -std=c++17 $flags -Wold-style-cast -c images.cpp; fi &&
      c++ -o mixed main.o other.o images.o) 2>"$work/cxx.log" ||
      { cat "$work/cxx.log"; fail "C and C++ with $definer do not compile and link"; }
    [ "$("$work/c/mixed")" = "one copy, 192 pink, cr 148" ] || fail "with $definer the program printed $("$work/c/mixed")"
    [ "$(nm "$work/c/mixed" | grep -c ' [RD] logo_Bitmap$')" = 1 ] || fail "with $definer logo_Bitmap is not defined once"
  done
  echo "C++ code: images.cpp or images.c with C and C++ files links one copy of the picture"
else
  echo "C++ code: skipped, no C++ compiler"
fi

# --- The Make rule.
if command -v make >/dev/null; then
  mkdir -p "$work/make/assets"
  block 'PIXMAR ?= pixmar' | sed 's/^images\.o:.*//; s/^	\$(CC).*//' >"$work/make/Makefile"
  cp "$sample" "$work/make/assets/good.bmp"
  printf 'GIF89a, not a bitmap' >"$work/make/assets/bad.bmp"
  if (cd "$work/make" && make -s PIXMAR="$pixmar" gen/bad.bmp.h >/dev/null 2>&1); then
    fail "the Make rule succeeded on a bad bitmap"
  fi
  [ -z "$(ls "$work/make/gen")" ] || fail "the Make rule left behind: $(ls "$work/make/gen")"
  (cd "$work/make" && make -s PIXMAR="$pixmar" gen/good.bmp.h >/dev/null) || fail "the Make rule on a good bitmap"
  [ "$(ls "$work/make/gen")" = "good.bmp.h" ] || fail "the Make rule left: $(ls "$work/make/gen")"
  grep -q "GOOD_WIDTH   (64)" "$work/make/gen/good.bmp.h" || fail "the Make rule's names"
  # Pasted at the top of a Makefile, the rules leave its own first target the default goal.
  { cat "$work/make/Makefile"; printf 'game:\n\t@echo the default goal\n'; } >"$work/make/top.mk"
  [ "$(cd "$work/make" && make -s -f top.mk PIXMAR="$pixmar")" = "the default goal" ] ||
    fail "the Make rules took the default goal of the Makefile they were pasted into"
  # A bitmap refused on a rebuild fails every build and keeps its last good header.
  cp "$work/make/gen/good.bmp.h" "$work/make/good.bmp.h.before"
  sleep 1 && cp "$work/make/assets/bad.bmp" "$work/make/assets/good.bmp"
  for build in first second; do
    if (cd "$work/make" && make -s PIXMAR="$pixmar" gen/good.bmp.h >/dev/null 2>&1); then
      fail "the $build build after the bitmap went bad succeeded"
    fi
  done
  cmp -s "$work/make/gen/good.bmp.h" "$work/make/good.bmp.h.before" && [ "$(ls "$work/make/gen")" = "good.bmp.h" ] ||
    fail "a refused rebuild did not keep the last good header alone: $(ls "$work/make/gen")"
  cp "$sample" "$work/make/assets/good.bmp"
  # A tool path relative to the Makefile's folder, as the README shows it.
  mkdir -p "$work/pixmar/build"
  cp "$pixmar" "$work/pixmar/build/pixmar"
  rm -f "$work/make/gen/good.bmp.h"
  (cd "$work/make" && make -s PIXMAR=../pixmar/build/pixmar gen/good.bmp.h >/dev/null) ||
    fail "the Make rule with a relative tool path"
  [ "$(ls "$work/make/gen")" = "good.bmp.h" ] || fail "the Make rule with a relative path left: $(ls "$work/make/gen")"
  # A new pixmar makes the headers again.
  (cd "$work/make" && make -q PIXMAR=../pixmar/build/pixmar gen/good.bmp.h) || fail "the header was out of date at once"
  sleep 1 && touch "$work/pixmar/build/pixmar"
  if (cd "$work/make" && make -q PIXMAR=../pixmar/build/pixmar gen/good.bmp.h); then
    fail "a new pixmar does not make the header again"
  fi
  # A bitmap whose name holds a space and is no C name, through its own rule.
  cp "$sample" "$work/make/assets/2-hud logo.bmp"
  (cd "$work/make" && make -s PIXMAR="$pixmar" gen/hud_logo.bmp.h >/dev/null) || fail "the Make rule of a chosen name"
  grep -q "^#define HUD_LOGO_WIDTH   (64)" "$work/make/gen/hud_logo.bmp.h" && grep -q "hud_logo_Bitmap\[48\*64\]" "$work/make/gen/hud_logo.bmp.h" ||
    fail "the chosen name's header: $(head -n 12 "$work/make/gen/hud_logo.bmp.h")"
  echo "Make rule: a failed conversion leaves nothing behind, a good one only its header, with any tool path; a refused rebuild keeps the last good header; pasted first, it keeps the default goal; a new tool remakes it; a chosen name for any file"
else
  echo "Make rule: skipped, make is not installed"
fi

# --- The Meson recipe, as the whole meson.build of a project whose bitmaps
# are assets/logo.bmp, assets/font.bmp and "assets/2-hud logo.bmp", with
# pixmar on the PATH.
if command -v meson >/dev/null && command -v ninja >/dev/null; then
  mkdir -p "$work/meson/assets" "$work/meson/bin"
  block "project('game', 'c')" >"$work/meson/meson.build"
  for bitmap in logo font "2-hud logo"; do cp "$sample" "$work/meson/assets/$bitmap.bmp"; done
  cp "$pixmar" "$work/meson/bin/pixmar"
  printf '#include "logo.bmp.h"\n#include "font.bmp.h"\n#include "hud_logo.bmp.h"\nint main(void) { return LOGO_WIDTH == 64 && FONT_SIZE == 3072 && font_Bitmap[4] == 0xE100E194 && HUD_LOGO_HEIGHT == 48 && hud_logo_Bitmap[4] == 0xE100E194 ? 0 : 1; }\n' >"$work/meson/main.c"
  # conversions: how many headers the next build makes.
  conversions() { (cd "$work/meson" && PATH="$work/meson/bin:$PATH" ninja -C build) 2>&1 | grep -c '^Output File:' || true; }
  (cd "$work/meson" && PATH="$work/meson/bin:$PATH" meson setup build >"$work/meson.log" 2>&1) || { cat "$work/meson.log"; fail "meson setup"; }
  [ "$(conversions)" = 3 ] || fail "the Meson build did not make the three headers"
  "$work/meson/build/game" || fail "the Meson program did not see the headers' names"
  [ -z "$(find "$work/meson" -name '*.h' ! -path "$work/meson/build/*")" ] || fail "the Meson build wrote beside the sources"
  [ "$(conversions)" = 0 ] || fail "Meson made headers again with nothing changed"
  sleep 1 && touch "$work/meson/assets/font.bmp"
  [ "$(conversions)" = 1 ] && [ "$work/meson/build/font.bmp.h" -nt "$work/meson/build/logo.bmp.h" ] ||
    fail "touching one bitmap did not remake its header alone"
  sleep 1 && touch "$work/meson/bin/pixmar"
  [ "$(conversions)" = 3 ] || fail "Meson did not make the headers again after the tool changed"
  echo "Meson recipe: one header per bitmap under its chosen name, made again exactly when its bitmap or the tool changes"
else
  echo "Meson recipe: skipped, meson or ninja is not installed"
fi
