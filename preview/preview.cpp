#include "preview.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "bitmap_encode.h"
#include "memory.h"

namespace pixmar {

namespace {

std::uint8_t clamp_rounded(double value)
{
    const double rounded = std::floor(value + 0.5);
    return std::uint8_t(rounded < 0 ? 0 : rounded > 255 ? 255 : rounded);
}

void decode_pixel(int y, double cb, double cr, std::uint8_t* bgr)
{
    bgr[0] = clamp_rounded(y + 1.772 * cb);
    bgr[1] = clamp_rounded(y - 0.344136 * cb - 0.714136 * cr);
    bgr[2] = clamp_rounded(y + 1.402 * cr);
}

double psnr_of(double squared_error, std::uint64_t samples)
{
    if (squared_error == 0)
        return std::numeric_limits<double>::infinity();
    return 10 * std::log10(255.0 * 255.0 * double(samples) / squared_error);
}

}  // namespace

void decode_pixel_pair(std::uint32_t word, std::uint8_t* left, std::uint8_t* right)
{
    const double cb = double((word >> 16) & 0xFF) - 128;
    const double cr = double(word & 0xFF) - 128;
    decode_pixel(int(word >> 24), cb, cr, left);
    decode_pixel(int((word >> 8) & 0xFF), cb, cr, right);
}

bool decode_picture(const ParsedHeader& header, PixelBuffer& picture)
{
    picture.width = std::uint32_t(header.width);
    picture.height = std::uint32_t(header.height);
    const std::size_t row_bytes = std::size_t(picture.width) * 3;
    picture.bytes.reset(allocate_block(row_bytes * picture.height));
    if (!picture.bytes)
        return false;
    const std::size_t words_per_row = picture.width / 2;
    for (std::size_t i = 0; i < header.words.size(); ++i) {
        // Words run top row first; the buffer keeps the bottom row first.
        const std::size_t row = picture.height - 1 - i / words_per_row;
        std::uint8_t* pixel = picture.bytes.get() + row * row_bytes + (i % words_per_row) * 6;
        decode_pixel_pair(header.words[i], pixel, pixel + 3);
    }
    return true;
}

Psnr measure_psnr(const PixelBuffer& original, const PixelBuffer& decoded)
{
    double squared[3] = {0, 0, 0};  // blue, green, red
    const std::size_t bytes = std::size_t(original.width) * original.height * 3;
    for (std::size_t i = 0; i < bytes; ++i) {
        const double difference = double(original.bytes[i]) - double(decoded.bytes[i]);
        squared[i % 3] += difference * difference;
    }
    const std::uint64_t pixels = std::uint64_t(original.width) * original.height;
    return Psnr{psnr_of(squared[0] + squared[1] + squared[2], pixels * 3), psnr_of(squared[2], pixels),
                psnr_of(squared[1], pixels), psnr_of(squared[0], pixels)};
}

std::vector<std::uint8_t> encode_side_by_side(const PixelBuffer& left, const PixelBuffer& right)
{
    const std::size_t left_row = std::size_t(left.width) * 3, right_row = std::size_t(right.width) * 3;
    std::vector<std::uint8_t> both((left_row + right_row) * left.height);
    for (std::size_t row = 0; row < left.height; ++row) {
        std::uint8_t* out = both.data() + row * (left_row + right_row);
        std::memcpy(out, left.bytes.get() + row * left_row, left_row);
        std::memcpy(out + left_row, right.bytes.get() + row * right_row, right_row);
    }
    return encode_bitmap(left.width + right.width, left.height, both.data());
}

}  // namespace pixmar
