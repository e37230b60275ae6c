// The weights of the pixel-pair arithmetic as the vector formatters hand
// them to their 16-bit multiply-adds: each 32-bit constant is a pair (high,
// low) of signed 16-bit weights, applied to a pair of 16-bit components.
// Weights above 32767 are split: Cb's numerator is even, so half of it is
// computed, (25000 B - 8437 R - 16563 G + 6400000); Cr takes 25000 R twice
// and G times (-20935, -20934) from the pair (G, G).
#pragma once

#include <cstdint>

namespace pixmar {

constexpr std::int32_t weight_pair(int high, int low)
{
    return std::int32_t(std::uint32_t(std::uint16_t(high)) << 16 | std::uint16_t(low));
}

// Applied to the components (R, B), (0, G) and (G, G).
inline constexpr std::int32_t kLumaRedBlue = weight_pair(299, 114);
inline constexpr std::int32_t kLumaGreen = weight_pair(0, 587);
inline constexpr std::int32_t kCbHalfRedBlue = weight_pair(-8437, 25000);
inline constexpr std::int32_t kCbHalfGreen = weight_pair(0, -16563);
inline constexpr std::int32_t kCbHalfOffset = 6400000;
inline constexpr std::int32_t kCrRedBlue = weight_pair(25000, -8131);
inline constexpr std::int32_t kCrRedAgain = weight_pair(25000, 0);
inline constexpr std::int32_t kCrGreenGreen = weight_pair(-20934, -20935);
inline constexpr std::int32_t kCrOffset = 12800000;

}  // namespace pixmar
