// The AVX-512 word formatter: a whole line of sixteen pixels (eight words) in
// one register, with the weights of word_weights.h and the division whose
// exactness word_line.h argues; a shorter line, at the end of a row, goes to
// the SSE2 formatter. Byte permutes (VBMI) do the layout work: they spread
// the 48 bytes of pixels into the 16-bit pairs that the multiply-adds take,
// pick each word's eight nibbles in order, and lay the digits into the line's
// text with its "0x", ", " and CR LF. Only its functions are compiled for
// these instructions (by attribute), and word_line_formatter calls them only
// where the processor reports them at run time.
#include "word_line.h"

#ifdef PIXMAR_HAVE_X86_WORDS

#include <array>
#include <cstddef>

// GCC 12 reports the placeholder values inside its own AVX-512 headers as
// possibly uninitialized once they are inlined here (its bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include "magic_pink.h"
#include "word_weights.h"

#define PIXMAR_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,fma")))

namespace pixmar {

namespace {

using ByteTable = std::array<std::uint8_t, 64>;

// For pixel lane i (four bytes each), the bytes of its blue and red, then of
// its green, as 16-bit pairs (B, R), (G, 0) and (G, G); the zeros come from
// the masks below.
constexpr ByteTable pixel_bytes(int low, int high)
{
    ByteTable table{};
    for (int i = 0; i < 16; ++i) {
        table[std::size_t(4 * i)] = std::uint8_t(3 * i + low);
        table[std::size_t(4 * i + 2)] = std::uint8_t(3 * i + high);
    }
    return table;
}
constexpr __mmask64 kEvenBytes = 0x5555555555555555u;  // bytes 0 and 2 of each lane
constexpr __mmask64 kFirstBytes = 0x1111111111111111u;  // byte 0 of each lane
alignas(64) constexpr ByteTable kBlueRed = pixel_bytes(0, 2);
alignas(64) constexpr ByteTable kGreenGreen = pixel_bytes(1, 1);

// Where each byte of the line's first 64 and last 34 bytes comes from: the
// digits (0-63, eight for each word in turn) or, from 64 on, the frame text.
constexpr std::array<ByteTable, 2> line_layout()
{
    std::array<ByteTable, 2> layout{};
    for (int at = 0; at < 98; ++at) {
        const int word = at / 12, place = at % 12;
        int from = 64 + (at == 96 ? 4 : at == 97 ? 5 : place == 0 ? 0 : place == 1 ? 1 : place == 10 ? 2 : 3);
        if (at < 96 && place >= 2 && place <= 9)
            from = 8 * word + place - 2;
        layout[std::size_t(at / 64)][std::size_t(at % 64)] = std::uint8_t(from);
    }
    return layout;
}
alignas(64) constexpr std::array<ByteTable, 2> kLineLayout = line_layout();
alignas(64) constexpr ByteTable kFrame = {'0', 'x', ',', ' ', '\r', '\n'};
// Indexed by six bits of which the low four are the nibble.
alignas(64) constexpr char kHexDigits[] = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";

PIXMAR_AVX512 __m512i load_table(const void* table) { return _mm512_load_si512(table); }

// n x r + r / 2 in one fused multiply-add, as the AVX2 formatter divides.
PIXMAR_AVX512 __m512i divide(__m512i numerator, float reciprocal)
{
    return _mm512_cvttps_epi32(_mm512_fmadd_ps(_mm512_cvtepi32_ps(numerator), _mm512_set1_ps(reciprocal),
                                               _mm512_set1_ps(reciprocal / 2)));
}

// The eight words of a line's sixteen pixels, in the low halves of the eight
// 64-bit lanes (the high halves hold nothing of use).
PIXMAR_AVX512 __m512i line_words(__m512i blue_red, __m512i green, __m512i green_green)
{
    const __m512i luma = _mm512_add_epi32(_mm512_madd_epi16(blue_red, _mm512_set1_epi32(kLumaRedBlue)),
                                          _mm512_madd_epi16(green, _mm512_set1_epi32(kLumaGreen)));
    const __m512i cb_half =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(blue_red, _mm512_set1_epi32(kCbHalfRedBlue)),
                                          _mm512_madd_epi16(green, _mm512_set1_epi32(kCbHalfGreen))),
                         _mm512_set1_epi32(kCbHalfOffset));
    const __m512i cr =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(blue_red, _mm512_set1_epi32(kCrRedBlue)),
                                          _mm512_madd_epi16(blue_red, _mm512_set1_epi32(kCrRedAgain))),
                         _mm512_add_epi32(_mm512_madd_epi16(green_green, _mm512_set1_epi32(kCrGreenGreen)),
                                          _mm512_set1_epi32(kCrOffset)));
    const __m512i y = divide(luma, 1.0f / 1000);
    // Cr in the low and Cb in the high half of each lane: one addition sums
    // both over a pair (at most 510, so the halves stay apart), one shift halves both.
    const __m512i chroma = _mm512_or_si512(_mm512_slli_epi32(divide(_mm512_srli_epi32(cb_half, 4), 1.0f / 3125), 16),
                                           divide(_mm512_srli_epi32(cr, 5), 1.0f / 3125));
    const __m512i pair_chroma = _mm512_srli_epi16(_mm512_add_epi32(chroma, _mm512_srli_epi64(chroma, 32)), 1);
    return _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi32(y, 24), _mm512_srli_epi64(y, 24)), pair_chroma);
}

}  // namespace

PIXMAR_AVX512 char* format_word_line_avx512(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    if (pairs != 8)
        return format_word_line_sse2(pixels, pairs, magic_pink, out);
    constexpr __mmask64 kLineBytes = (std::uint64_t(1) << 48) - 1;
    prefetch_ahead(pixels);
    __m512i bytes = _mm512_maskz_loadu_epi8(kLineBytes, pixels);  // reads only the line's 48 bytes
    __m512i blue_red = _mm512_maskz_permutexvar_epi8(kEvenBytes, load_table(kBlueRed.data()), bytes);
    __m512i green_green = _mm512_maskz_permutexvar_epi8(kEvenBytes, load_table(kGreenGreen.data()), bytes);
    // The rule runs only where a pixel is magic pink (blue and red 255, green 0), which is rare.
    if (magic_pink &&
        _mm512_cmpeq_epi32_mask(_mm512_or_si512(blue_red, _mm512_slli_epi32(green_green, 8)),
                                _mm512_set1_epi32(0x00FF00FF)) != 0) {
        apply_magic_pink_rule_to_pairs(pixels, 8);
        bytes = _mm512_maskz_loadu_epi8(kLineBytes, pixels);
        blue_red = _mm512_maskz_permutexvar_epi8(kEvenBytes, load_table(kBlueRed.data()), bytes);
        green_green = _mm512_maskz_permutexvar_epi8(kEvenBytes, load_table(kGreenGreen.data()), bytes);
    }
    const __m512i green = _mm512_maskz_mov_epi8(kFirstBytes, green_green);
    const __m512i words = line_words(blue_red, green, green_green);
    // Each 64-bit lane's eight bytes get the bits from 28, 24, ..., 0 on: a
    // word's nibbles, most significant first, each the low four bits of a
    // byte; the digit table repeats, so the bits above them do not matter.
    const __m512i nibbles = _mm512_multishift_epi64_epi8(_mm512_set1_epi64(0x0004080C1014181C), words);
    const __m512i digits = _mm512_permutexvar_epi8(nibbles, load_table(kHexDigits));
    const __m512i frame = load_table(kFrame.data());
    _mm512_storeu_si512(out, _mm512_permutex2var_epi8(digits, load_table(kLineLayout[0].data()), frame));
    _mm512_mask_storeu_epi8(out + 64, (std::uint64_t(1) << 34) - 1,
                            _mm512_permutex2var_epi8(digits, load_table(kLineLayout[1].data()), frame));
    return out + 98;
}

}  // namespace pixmar

#endif
