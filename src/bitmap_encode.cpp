#include "bitmap_encode.h"

#include <cstring>

#include "bitmap.h"

namespace pixmar {

namespace {

void store_u16(std::uint8_t* p, std::uint32_t value)
{
    p[0] = std::uint8_t(value);
    p[1] = std::uint8_t(value >> 8);
}

void store_u32(std::uint8_t* p, std::uint32_t value)
{
    store_u16(p, value);
    store_u16(p + 2, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> encode_bitmap(std::uint32_t width, std::uint32_t height, const std::uint8_t* bgr)
{
    const std::size_t row_bytes = std::size_t(width) * 3;
    const std::size_t stored_row = std::size_t(stored_row_bytes(width));
    const std::size_t pixel_bytes = stored_row * height;
    const std::size_t offset = kFileHeaderSize + kInfoHeaderSize;

    std::vector<std::uint8_t> file(offset + pixel_bytes, 0);
    std::uint8_t* p = file.data();
    store_u16(p, kBitmapType);
    store_u32(p + 2, std::uint32_t(file.size()));
    store_u32(p + 10, std::uint32_t(offset));
    p += kFileHeaderSize;
    store_u32(p, kInfoHeaderSize);
    store_u32(p + 4, width);
    store_u32(p + 8, height);
    store_u16(p + 12, 1);
    store_u16(p + 14, 24);
    store_u32(p + 20, std::uint32_t(pixel_bytes));
    store_u32(p + 24, 2835);  // 72 dots per inch
    store_u32(p + 28, 2835);
    for (std::size_t row = 0; row < height && row_bytes > 0; ++row)
        std::memcpy(file.data() + offset + row * stored_row, bgr + row * row_bytes, row_bytes);
    return file;
}

}  // namespace pixmar
