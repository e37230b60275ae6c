// What a JPEG's or WebP's own first bytes say of its picture, read before
// the browser decodes it: its size, for the page's limits, and a JPEG's EXIF
// orientation, which the browser always applies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmar {

struct BrowserImage {
    std::uint32_t width = 0, height = 0;  // as the browser gives it: turned when the orientation says so
    int orientation = 1;                  // EXIF orientation, 1 (as stored) to 8
};

// True when `head`, a JPEG's or WebP's first `size` bytes, tells its size.
bool browser_image_size(const std::uint8_t* head, std::size_t size, BrowserImage& image);

}  // namespace pixmar
