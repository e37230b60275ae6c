// The AVX2 word formatter: a whole line of sixteen pixels (eight words) at a
// time, with the weights of word_weights.h and the division whose exactness
// word_line.h argues; a shorter line, at the end of a row, goes to the SSE2
// formatter. Only its functions are compiled for AVX2 and FMA (by attribute,
// not by a flag for the whole file or program), and word_line_formatter calls
// them only where the processor reports both at run time.
#include "word_line.h"

#ifdef PIXMAR_HAVE_X86_WORDS

#include <immintrin.h>

#include "magic_pink.h"
#include "word_weights.h"

#define PIXMAR_AVX2 __attribute__((target("avx2,fma")))

namespace pixmar {

namespace {

struct Components {
    __m256i luma, cb, cr;  // one pixel a 32-bit lane, each 0..255
};

// (n + 0.5) x r as n x r + r / 2, in one fused multiply-add.
PIXMAR_AVX2 __m256i divide(__m256i numerator, float reciprocal)
{
    return _mm256_cvttps_epi32(_mm256_fmadd_ps(_mm256_cvtepi32_ps(numerator), _mm256_set1_ps(reciprocal),
                                               _mm256_set1_ps(reciprocal / 2)));
}

// True when one of the eight pixels is magic pink.
PIXMAR_AVX2 bool has_magic_pink(__m256i bytes)
{
    const __m256i colour = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8,
                                -1, 9, 10, 11, -1));
    return _mm256_movemask_epi8(_mm256_cmpeq_epi32(colour, _mm256_set1_epi32(0x00FF00FF))) != 0;
}

PIXMAR_AVX2 Components components_of(__m256i bytes)
{
    // Byte shuffles give the 16-bit pairs directly: (B, R), (G, 0) and (G, G).
    const __m256i blue_red = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(0, -1, 2, -1, 3, -1, 5, -1, 6, -1, 8, -1, 9, -1, 11, -1, 0, -1, 2, -1, 3, -1, 5, -1, 6,
                                -1, 8, -1, 9, -1, 11, -1));
    const __m256i green = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1, 1, -1, -1, -1, 4, -1, -1,
                                -1, 7, -1, -1, -1, 10, -1, -1, -1));
    const __m256i green_green = _mm256_shuffle_epi8(
        bytes, _mm256_setr_epi8(1, -1, 1, -1, 4, -1, 4, -1, 7, -1, 7, -1, 10, -1, 10, -1, 1, -1, 1, -1, 4, -1, 4, -1, 7,
                                -1, 7, -1, 10, -1, 10, -1));
    const __m256i luma = _mm256_add_epi32(_mm256_madd_epi16(blue_red, _mm256_set1_epi32(kLumaRedBlue)),
                                          _mm256_madd_epi16(green, _mm256_set1_epi32(kLumaGreen)));
    const __m256i cb_half =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(blue_red, _mm256_set1_epi32(kCbHalfRedBlue)),
                                          _mm256_madd_epi16(green, _mm256_set1_epi32(kCbHalfGreen))),
                         _mm256_set1_epi32(kCbHalfOffset));
    const __m256i cr =
        _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(blue_red, _mm256_set1_epi32(kCrRedBlue)),
                                          _mm256_madd_epi16(blue_red, _mm256_set1_epi32(kCrRedAgain))),
                         _mm256_add_epi32(_mm256_madd_epi16(green_green, _mm256_set1_epi32(kCrGreenGreen)),
                                          _mm256_set1_epi32(kCrOffset)));
    return Components{divide(luma, 1.0f / 1000), divide(_mm256_srli_epi32(cb_half, 4), 1.0f / 3125),
                      divide(_mm256_srli_epi32(cr, 5), 1.0f / 3125)};
}

// The words of four pairs: lanes 0 and 2 of each 128-bit half.
PIXMAR_AVX2 __m256i spread_pair_words(const Components& c)
{
    // Cr in the low and Cb in the high half of each lane: one addition sums
    // both over a pair (at most 510, so the halves stay apart), one shift halves both.
    const __m256i chroma = _mm256_or_si256(_mm256_slli_epi32(c.cb, 16), c.cr);
    const __m256i pair_chroma = _mm256_srli_epi16(_mm256_add_epi32(chroma, _mm256_srli_epi64(chroma, 32)), 1);
    return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(c.luma, 24), _mm256_srli_epi64(c.luma, 24)),
                           pair_chroma);
}

// The words of eight pairs, in lanes 0-7, from two groups of four.
PIXMAR_AVX2 __m256i pair_words(const Components& first, const Components& second)
{
    // Per half: first's lanes 0 and 2, then second's: words 0 1 4 5 | 2 3 6 7.
    const __m256 mixed = _mm256_shuffle_ps(_mm256_castsi256_ps(spread_pair_words(first)),
                                           _mm256_castsi256_ps(spread_pair_words(second)), _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_permute4x64_epi64(_mm256_castps_si256(mixed), _MM_SHUFFLE(3, 1, 2, 0));
}

// Writes "0xHHHHHHHH, " for each of eight words, 96 bytes, with byte
// shuffles: a table look-up for the digits, the text of four words laid out
// in each 128-bit half, then three stores of 32 bytes.
PIXMAR_AVX2 void format_eight_words(__m256i words, char* out)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(words, 4), nibble);
    const __m256i low = _mm256_and_si256(words, nibble);
    const __m256i hex = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F',
                                         '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    // Words 0, 1 | 4, 5 and 2, 3 | 6, 7.
    const __m256i first = _mm256_shuffle_epi8(hex, _mm256_unpacklo_epi8(high, low));
    const __m256i second = _mm256_shuffle_epi8(hex, _mm256_unpackhi_epi8(high, low));
    const __m256i part0 = _mm256_or_si256(
        _mm256_shuffle_epi8(first, _mm256_setr_epi8(-1, -1, 6, 7, 4, 5, 2, 3, 0, 1, -1, -1, -1, -1, 14, 15, -1, -1, 6, 7,
                                                    4, 5, 2, 3, 0, 1, -1, -1, -1, -1, 14, 15)),
        _mm256_setr_epi8('0', 'x', 0, 0, 0, 0, 0, 0, 0, 0, ',', ' ', '0', 'x', 0, 0, '0', 'x', 0, 0, 0, 0, 0, 0, 0, 0,
                         ',', ' ', '0', 'x', 0, 0));
    const __m256i part1 = _mm256_or_si256(
        _mm256_or_si256(
            _mm256_shuffle_epi8(first, _mm256_setr_epi8(12, 13, 10, 11, 8, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 12,
                                                        13, 10, 11, 8, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1)),
            _mm256_shuffle_epi8(second, _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 6, 7, 4, 5, 2, 3, -1,
                                                         -1, -1, -1, -1, -1, -1, -1, -1, -1, 6, 7, 4, 5, 2, 3))),
        _mm256_setr_epi8(0, 0, 0, 0, 0, 0, ',', ' ', '0', 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ',', ' ', '0', 'x', 0,
                         0, 0, 0, 0, 0));
    const __m256i part2 = _mm256_or_si256(
        _mm256_shuffle_epi8(second, _mm256_setr_epi8(0, 1, -1, -1, -1, -1, 14, 15, 12, 13, 10, 11, 8, 9, -1, -1, 0, 1, -1,
                                                     -1, -1, -1, 14, 15, 12, 13, 10, 11, 8, 9, -1, -1)),
        _mm256_setr_epi8(0, 0, ',', ' ', '0', 'x', 0, 0, 0, 0, 0, 0, 0, 0, ',', ' ', 0, 0, ',', ' ', '0', 'x', 0, 0, 0, 0,
                         0, 0, 0, 0, ',', ' '));
    // Low halves hold words 0-3 (bytes 0-47), high halves words 4-7 (48-95).
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(part0, part1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_permute2x128_si256(part2, part0, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64), _mm256_permute2x128_si256(part1, part2, 0x31));
}

// A whole line's 48 bytes as two groups of eight pixels (four in each
// 128-bit half), from two loads that stay within the line.
PIXMAR_AVX2 void load_sixteen_pixels(const std::uint8_t* pixels, __m256i& first, __m256i& second)
{
    const __m256i front = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels));  // bytes 0-31
    const __m128i back = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 32));  // bytes 32-47
    const __m256i middle = _mm256_permute2x128_si256(front, _mm256_castsi128_si256(back), 0x21);  // bytes 16-47
    first = _mm256_permutevar8x32_epi32(front, _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
    second = _mm256_permutevar8x32_epi32(middle, _mm256_setr_epi32(2, 3, 4, 4, 5, 6, 7, 7));
}

}  // namespace

PIXMAR_AVX2 char* format_word_line_avx2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    // A shorter line ends a row whose width is no multiple of 16: rare enough
    // for the SSE2 formatter, which reads nothing past the line's pixels.
    if (pairs != 8)
        return format_word_line_sse2(pixels, pairs, magic_pink, out);
    __m256i first, second;
    prefetch_ahead(pixels);
    load_sixteen_pixels(pixels, first, second);
    // The rule runs only where a pixel is magic pink, which is rare.
    if (magic_pink && (has_magic_pink(first) || has_magic_pink(second))) {
        apply_magic_pink_rule_to_pairs(pixels, 8);
        load_sixteen_pixels(pixels, first, second);
    }
    format_eight_words(pair_words(components_of(first), components_of(second)), out);
    out += 96;
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

}  // namespace pixmar

#endif
