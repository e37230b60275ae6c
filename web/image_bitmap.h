// Images other than a 24-bit bitmap, made the pixels of one for the
// converter: decoded to their stored colours (not premultiplied by alpha),
// alpha dropped, fully transparent pixels magic pink on request, an odd width
// padded by repeating the last column or cropped. The converter takes them
// with the records of the 24-bit bitmap they make (records_of_bitmap), so
// that it says what it says of that bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bitmap.h"

namespace pixmar {

enum class ImageResult { made, cannot_decode, sixteen_bit, os2_bitmap, no_memory };

struct ImageOptions {
    bool transparent_pink = false;  // alpha 0 becomes red 255, green 0, blue 255
    bool opaque = false;            // the fourth byte is not alpha: every pixel is opaque
    bool transparent_black = false; // the decoder kept no colour for fully transparent pixels
    bool crop = false;              // an odd width loses its last column instead of repeating it
};

// The width and height of a PNG, GIF or BMP that the decoder reads (a
// top-down bitmap's too); false when it reads none of them.
bool image_size(const std::uint8_t* bytes, std::size_t size, std::uint32_t& width, std::uint32_t& height);

// True for a PNG of 16 bits a sample, which the page does not take.
bool is_sixteen_bit_png(const std::uint8_t* bytes, std::size_t size);

// What stands in the way of decoding the bitmap file whose first `size`
// bytes are `head` and which holds `file_size` bytes: an OS/2 bitmap, which
// the recipes do not read as the decoder does, or pixel data cut short,
// which they refuse. ImageResult::made when nothing does (or it is no BMP).
ImageResult bitmap_problem(const std::uint8_t* head, std::size_t size, std::uint64_t file_size);

// RGBA rows, top row first, as the decoder made them.
struct DecodedImage {
    struct Free {
        void operator()(std::uint8_t* pixels) const;
    };
    std::unique_ptr<std::uint8_t, Free> rgba;
    std::uint32_t width = 0, height = 0;
    bool opaque = false;             // a 32-bit BMP without bit fields: its fourth byte is unused
    bool transparent_black = false;  // a GIF: fully transparent pixels come out black
    bool sixteen_bit_bitmap = false; // a 16-bit BMP: widened as ImageMagick widens it, not as Pillow does
};

// Decodes a PNG, GIF (its first frame) or BMP, refusing what bitmap_problem
// names.
ImageResult decode_image(const std::uint8_t* bytes, std::size_t size, DecodedImage& image);

// The pixel buffer of RGBA rows (top row first), its width made even; one
// line for each thing done to the picture goes to `notes`. std::bad_alloc
// when its memory cannot be had.
PixelBuffer pixels_of_rgba(const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                           const ImageOptions& options, std::string& notes);

}  // namespace pixmar
