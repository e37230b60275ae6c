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
    const BitmapRecords records = records_of_bitmap(width, height);
    const std::size_t row_bytes = std::size_t(width) * 3;
    const std::size_t stored_row = std::size_t(stored_row_bytes(width));
    // In 64 bits: bfSize, like every 32-bit field, wraps for a picture past 4 GiB.
    std::vector<std::uint8_t> file(records.file.bfOffBits + stored_row * height, 0);
    std::uint8_t* p = file.data();
    store_u16(p, records.file.bfType);
    store_u32(p + 2, records.file.bfSize);
    store_u32(p + 10, records.file.bfOffBits);
    p += kFileHeaderSize;
    const InfoHeader& info = records.info;
    store_u32(p, info.biSize);
    store_u32(p + 4, std::uint32_t(info.biWidth));
    store_u32(p + 8, std::uint32_t(info.biHeight));
    store_u16(p + 12, info.biPlanes);
    store_u16(p + 14, info.biBitCount);
    store_u32(p + 20, info.biSizeImage);
    store_u32(p + 24, std::uint32_t(info.biXPelsPerMeter));
    store_u32(p + 28, std::uint32_t(info.biYPelsPerMeter));
    for (std::size_t row = 0; row < height && row_bytes > 0; ++row)
        std::memcpy(file.data() + records.file.bfOffBits + row * stored_row, bgr + row * row_bytes, row_bytes);
    return file;
}

}  // namespace pixmar
