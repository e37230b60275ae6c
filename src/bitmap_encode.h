// Writing 24-bit bitmaps: the exact layout the converter reads, used to make
// the sample image, test inputs and previews.
#pragma once

#include <cstdint>
#include <vector>

namespace pixmar {

// Returns a complete bottom-up bitmap file (54-byte headers, rows padded to 4
// bytes with zero fill). `bgr` holds width x height pixels of blue, green,
// red, bottom row first, as a PixelBuffer does.
std::vector<std::uint8_t> encode_bitmap(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr);

}  // namespace pixmar
