// Lines of pixel-pair words as the header holds them: at most 8 words (16
// pixels) a line, each written "0xHHHHHHHH, " (12 bytes), then CR LF.
//
// Two implementations give the same bytes. The portable scalar one encodes
// with encode_pixel_pair and is the reference; it serves every processor. On
// x86-64 an SSE2 one (every x86-64 processor has SSE2, so it needs no check)
// encodes and formats four pixels at a time. format_word_line uses the best
// one the processor has; the tests call each one directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixmar {

inline constexpr std::uint32_t kPixelsPerLine = 16;

// What one call may touch past `out`: 8 words and CR LF are 98 bytes, and a
// vector store of the last word reaches 4 bytes past that word.
inline constexpr std::size_t kMaxWordLineBytes = 8 * 12 + 4;

// Formats one line: `pairs` (1 to 8) words from the pixels at `pixels`
// (blue, green, red each), then CR LF. With `magic_pink` the pair rule is
// applied to the pixels in place first. Reads only those pixels. Returns the
// end of the line, which lies within kMaxWordLineBytes of `out`.
using WordLineFormatter = char* (*)(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

char* format_word_line_scalar(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

#if defined(__x86_64__) || defined(_M_X64)
#define PIXMAR_HAVE_SSE2_WORDS 1
char* format_word_line_sse2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

// Luma, Cb and Cr of four pixels (12 bytes of blue, green, red) as the SSE2
// formatter computes them for each pixel, before pairing: for tests.
void pixel_components_sse2(const std::uint8_t* pixels, std::uint8_t luma[4], std::uint8_t cb[4], std::uint8_t cr[4]);
#endif

// The formatter for this processor: SSE2 on x86-64, the scalar one elsewhere.
char* format_word_line(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

}  // namespace pixmar
