#include "magic_pink.h"

namespace pixmar {

namespace {

bool is_magic_pink(const std::uint8_t* pixel)
{
    return pixel[0] == 0xFF && pixel[1] == 0x00 && pixel[2] == 0xFF;
}

void make_black(std::uint8_t* pixel) { pixel[0] = pixel[1] = pixel[2] = 0; }

}  // namespace

void apply_magic_pink_rule(std::uint8_t* left, std::uint8_t* right)
{
    const bool left_pink = is_magic_pink(left);
    const bool right_pink = is_magic_pink(right);
    if (left_pink && !right_pink)
        make_black(left);
    else if (right_pink && !left_pink)
        make_black(right);
}

void apply_magic_pink_rule_to_pairs(std::uint8_t* pixels, std::uint32_t pairs)
{
    for (std::uint32_t pair = 0; pair < pairs; ++pair, pixels += 6)
        apply_magic_pink_rule(pixels, pixels + 3);
}

}  // namespace pixmar
