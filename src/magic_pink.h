// The Magic Pink colour-key rule. Magic pink is exactly red 255, green 0,
// blue 255 (bytes FF 00 FF in the pixel buffer's blue, green, red order). In
// a pair of which only one pixel is magic pink, that pixel becomes black, so
// the key colour reaches the header only as whole words (0x69D469EA).
#pragma once

#include <cstdint>

namespace pixmar {

// Acts on the two pixels of one pair in place, each 3 bytes of blue, green,
// red: blackens the magic pink one when its partner is not magic pink.
void apply_magic_pink_rule(std::uint8_t* left, std::uint8_t* right);

// The rule for `pairs` adjacent pairs, 6 bytes each, starting at `pixels`.
void apply_magic_pink_rule_to_pairs(std::uint8_t* pixels, std::uint32_t pairs);

}  // namespace pixmar
