// What the vector formatters compute for each pixel before pairing, exposed
// for the tests that check every colour against the scalar arithmetic; the
// converter itself never calls these.
#pragma once

#include <cstdint>

#include "word_line.h"

#ifdef PIXMAR_HAVE_SSE2_WORDS
namespace pixmar {

// Luma, Cb and Cr of four (SSE2) or eight (AVX2) pixels of blue, green, red.
void pixel_components_sse2(const std::uint8_t* pixels, std::uint8_t luma[4], std::uint8_t cb[4], std::uint8_t cr[4]);
void pixel_components_avx2(const std::uint8_t* pixels, std::uint8_t luma[8], std::uint8_t cb[8], std::uint8_t cr[8]);

}  // namespace pixmar
#endif
