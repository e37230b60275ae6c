// Lines of pixel-pair words as the header holds them: at most 8 words (16
// pixels) a line, each written "0xHHHHHHHH, " (12 bytes), then CR LF.
//
// Three implementations give the same bytes. The portable scalar one encodes
// with encode_pixel_pair and is the reference; it serves every processor. On
// x86-64 an SSE2 one (every x86-64 processor has SSE2, so it needs no check)
// encodes and formats four pixels at a time, and an AVX2 one (with FMA), used
// only where the processor reports both at run time, eight. word_line_formatter picks the
// best one the processor has; the tests call each one directly.
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

char* format_word_line_avx2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

// True when the processor (and the system) can run the AVX2 formatter: AVX2 and FMA.
bool processor_has_avx2();

// Luma, Cb and Cr of four (SSE2) or eight (AVX2) pixels of blue, green, red,
// as the vector formatters compute them for each pixel before pairing: for
// the tests.
void pixel_components_sse2(const std::uint8_t* pixels, std::uint8_t luma[4], std::uint8_t cb[4], std::uint8_t cr[4]);
void pixel_components_avx2(const std::uint8_t* pixels, std::uint8_t luma[8], std::uint8_t cb[8], std::uint8_t cr[8]);
#endif

// The fastest formatter this processor runs: AVX2 where it has it, else SSE2
// on x86-64, else the scalar one. Decided once.
WordLineFormatter word_line_formatter();

}  // namespace pixmar
