// Lines of pixel-pair words as the header holds them: at most 8 words (16
// pixels) a line, each written "0xHHHHHHHH, " (12 bytes), then CR LF.
//
// Four implementations give the same bytes. The portable scalar one encodes
// with encode_pixel_pair and is the reference; it serves every processor. On
// x86-64 an SSE2 one (every x86-64 processor has SSE2, so it needs no check)
// encodes and formats four pixels at a time, an AVX2 one (with FMA) eight,
// and an AVX-512 one (F, BW and VBMI, with FMA) a whole line of sixteen; each
// of the last two runs only where the processor reports what it needs at run
// time. word_line_formatter picks the best one the processor has; the tests
// call each one directly.
//
// Why the vector formatters' division is exact. Each numerator n is a whole
// number from 0 to below 2^23 (luma n < 255001 with d = 1000; Cb's half
// numerator, shifted right by 4 exactly as floor(n / 16) < 798438, with
// d = 3125, since 50000 = 16 x 3125; Cr's numerator shifted right by 5,
// < 798438, with d = 3125, since 100000 = 32 x 3125). The quotient
// q = floor(n / d) is taken as (n + 0.5) x r truncated, r = float(1 / d):
// n and n + 0.5 are exact in a float, and two roundings follow, that of r
// and that of the product (SSE2 multiplies n + 0.5 by r; AVX2 and AVX-512
// compute n x r + r / 2 in one fused multiply-add, r / 2 being exact). Each is
// relative and at most 2^-24, so the result lies within 2 x 2^-24 x 256 =
// 3.1e-5 of (n + 0.5) / d, a value below 256 that lies at least 0.5 / d
// from every whole number. With d at most 3125, 0.5 / d = 1.6e-4 > 3.1e-5:
// truncation gives q exactly. The tests check all 2^24 colours against the
// scalar arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>  // the processor's prefetch hint
#endif

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
#define PIXMAR_HAVE_X86_WORDS 1  // AVX2 and AVX-512 too, where the processor has them
#elif defined(__EMSCRIPTEN__) && defined(__wasm_simd128__)
// WebAssembly SIMD runs the SSE2 formatter through the compiler's SSE2
// headers, whose operations it has (with the same IEEE single-precision
// arithmetic, so the exactness argument above holds there too).
#define PIXMAR_HAVE_SSE2_WORDS 1
#endif

#ifdef PIXMAR_HAVE_SSE2_WORDS
char* format_word_line_sse2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);
#endif

#ifdef PIXMAR_HAVE_X86_WORDS
// Asks the processor for the pixels about twenty lines ahead of `pixels`.
// Rows are formatted last to first, and the processor's own prefetcher
// stops at each 4 KiB boundary, so without this a large image waits on
// memory for a good part of its formatting. A hint only: it never faults.
inline void prefetch_ahead(const std::uint8_t* pixels)
{
    _mm_prefetch(reinterpret_cast<const char*>(pixels) + 1024, _MM_HINT_T0);
}

char* format_word_line_avx2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

// True when the processor (and the system) can run the AVX2 formatter: AVX2 and FMA.
bool processor_has_avx2();

char* format_word_line_avx512(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

// True when the processor (and the system) can run the AVX-512 formatter.
bool processor_has_avx512();
#endif

// The fastest formatter this processor runs: AVX-512, else AVX2, where it
// has them, else SSE2 (x86-64, WebAssembly SIMD), else the scalar one.
// Decided once.
WordLineFormatter word_line_formatter();

}  // namespace pixmar
