// The pixel-pair word: two horizontally adjacent pixels packed as YCbCr 4:2:2.
//
//   31        24 23        16 15         8 7          0
//  +------------+------------+------------+------------+
//  |     Y0     |     Cb     |     Y1     |     Cr     |
//  +------------+------------+------------+------------+
//   luma of the   chroma       luma of the   chroma
//   left pixel    shared by    right pixel   shared by
//                 the pair                   the pair
//
// Full-range JFIF weights in fixed point. The integer form decides every bit:
// a floating-point evaluation differs (0.587 * 72 + 0.114 * 24 lands just below
// 45 and truncates to 44, while 45000 / 1000 is exactly 45).
#pragma once

#include <cstdint>

namespace pixmar {

// Returns the word for the left pixel (r0, g0, b0) and the right pixel
// (r1, g1, b1); only the low 8 bits of each component count. Cannot fail.
inline std::uint32_t encode_pixel_pair(std::uint32_t r0, std::uint32_t g0, std::uint32_t b0,
                                       std::uint32_t r1, std::uint32_t g1, std::uint32_t b1)
{
    const std::int32_t R0 = std::int32_t(r0 & 0xFF), G0 = std::int32_t(g0 & 0xFF), B0 = std::int32_t(b0 & 0xFF);
    const std::int32_t R1 = std::int32_t(r1 & 0xFF), G1 = std::int32_t(g1 & 0xFF), B1 = std::int32_t(b1 & 0xFF);

    // Every numerator is positive for 8-bit components, so truncating division
    // drops the fraction exactly as intended, and every result lies in 0..255.
    const std::int32_t y0 = (299 * R0 + 587 * G0 + 114 * B0) / 1000;
    const std::int32_t y1 = (299 * R1 + 587 * G1 + 114 * B1) / 1000;
    const std::int32_t cb0 = (50000 * B0 - 16874 * R0 - 33126 * G0 + 12800000) / 100000;
    const std::int32_t cb1 = (50000 * B1 - 16874 * R1 - 33126 * G1 + 12800000) / 100000;
    const std::int32_t cr0 = (50000 * R0 - 41869 * G0 - 8131 * B0 + 12800000) / 100000;
    const std::int32_t cr1 = (50000 * R1 - 41869 * G1 - 8131 * B1 + 12800000) / 100000;

    // Sum first, then halve: the pair's chroma is the truncated mean.
    const std::uint32_t cb = std::uint32_t(cb0 + cb1) / 2;
    const std::uint32_t cr = std::uint32_t(cr0 + cr1) / 2;

    return std::uint32_t(y0) << 24 | cb << 16 | std::uint32_t(y1) << 8 | cr;
}

}  // namespace pixmar
