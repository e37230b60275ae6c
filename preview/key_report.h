// What the Magic Pink pair rule makes of a picture, told from the original
// and the header's words before the target shows it. A pair is the two
// pixels at columns c and c + 1 of a row, c even, encoded as one word.
//
//   kind                 what it is                    on the target
//   wholly pink pair     both pixels exactly FF 00 FF  the key colour: transparent
//   half-pink pair       exactly one such pixel        black with -MP, a pinkish blend without
//   near-pink pixel      red, blue >= 239, green <= 16 not the key: shows as a colour
//                        and not exactly magic pink
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memory.h"

#include "bitmap.h"

namespace pixmar {

// Whether the header's words show the rule on, told from the half-pink pairs
// alone: with it on their pink pixel was encoded as black.
enum class KeyRule { on, off, no_half_pairs, neither };

struct KeyCounts {
    std::uint64_t whole_pairs = 0, half_pairs = 0, near_pixels = 0;
    std::uint64_t half_pairs_as_black = 0, half_pairs_as_pink = 0;  // what the words hold
};

// The key map: the original greyed, wholly pink pairs as a light
// checkerboard, both pixels of a half-pink pair red, near-pink pixels blue
// (over the red). Made in place as an 8-bit bitmap file with its palette,
// one index a pixel: a third of the bytes of a 24-bit picture to make and
// write, and nothing to copy before writing it. Its memory is a block of the
// system layer's, in huge pages where the system has them: on a large
// picture, page faults of fresh memory were a good part of the map's cost.
struct KeyMap {
    MemoryBlock file;
    std::size_t file_size = 0;
    std::uint32_t width = 0, height = 0;
};

// Counts the kinds in `original` against `words` (top row first, width / 2 a
// row, as a parsed header holds them; none to count without telling the
// rule) and, when `map` is given, paints the key map into it. False when the
// words do not fit the picture. Throws
// std::bad_alloc when the map's memory cannot be had.
bool report_key(const PixelBuffer& original, const std::vector<std::uint32_t>& words, KeyCounts& counts,
                KeyMap* map);

// The key map as a canvas takes it: RGBA, top row first.
std::vector<std::uint8_t> key_map_rgba(const KeyMap& map);

KeyRule rule_seen(const KeyCounts& counts);

// The report's line, "Magic Pink: N pairs wholly magic pink ..., M half-pink
// pairs ..., K near-pink pixels ...; <what the header shows of the rule>\n".
std::string key_line(const KeyCounts& counts);

// Every half-pink pair (at its pink pixel's column) and near-pink pixel as
// "row,column,kind\n" lines, rows counted from the top of the picture, top
// row first and left to right; kind is "half-pink" or "near-pink".
std::string key_list(const PixelBuffer& original);

}  // namespace pixmar
