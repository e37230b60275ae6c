// Turning pixel-pair words back into a picture, as the target shows them, and
// measuring how far that picture is from the original.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bitmap.h"
#include "header_reader.h"

namespace pixmar {

// Decodes one word into its two pixels, 3 bytes each in blue, green, red
// order, with the inverse full-range JFIF transform rounded to nearest and
// clamped to 0..255; both pixels share the word's Cb and Cr. The picture is
// decoded through it alone.
void decode_pixel_pair(std::uint32_t word, std::uint8_t* left, std::uint8_t* right);

// The decoded picture as a pixel buffer (row 0 at the bottom). False when the
// memory cannot be had, or the header holds other than width / 2 words a row.
bool decode_picture(const ParsedHeader& header, PixelBuffer& picture);

struct Psnr {
    double overall, red, green, blue;  // dB; infinity where the pictures are equal
};

// Peak signal-to-noise ratio of `decoded` against `original` (same size).
Psnr measure_psnr(const PixelBuffer& original, const PixelBuffer& decoded);

// The PSNR line, "PSNR: ... dB (red ... dB, green ... dB, blue ... dB)\n".
std::string psnr_line(const Psnr& psnr);

// The pictures side by side, `left` then `right`, as a 24-bit bitmap file.
std::vector<std::uint8_t> encode_side_by_side(const PixelBuffer& left, const PixelBuffer& right);

}  // namespace pixmar
