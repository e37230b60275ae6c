#include "word_line.h"

#include <cstring>

#include "magic_pink.h"
#include "pixel_pair.h"

#ifdef PIXMAR_HAVE_SSE2_WORDS
#include <emmintrin.h>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif

#include "word_weights.h"
#endif
#ifdef PIXMAR_HAVE_X86_WORDS
#include <cpuid.h>
#endif

namespace pixmar {

namespace {

// Writes "0xHHHHHHHH, " (12 bytes) for the word. The eight nibbles are spread
// one per byte of a 64-bit value and turned into ASCII all at once: '0' is
// added to every byte, and 7 more ('A' - '9' - 1) where the nibble is above 9.
char* format_word(std::uint32_t word, char* out)
{
    std::uint64_t x = word;
    x = (x | x << 16) & 0x0000FFFF0000FFFFu;
    x = (x | x << 8) & 0x00FF00FF00FF00FFu;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Fu;
    const std::uint64_t letters = ((x + 0x0606060606060606u) >> 4) & 0x0101010101010101u;
    const std::uint64_t ascii = x + 0x3030303030303030u + letters * 7;
    out[0] = '0';
    out[1] = 'x';
    // The most significant nibble sits in the top byte and is written first.
    for (int i = 0; i < 8; ++i)
        out[2 + i] = char(ascii >> (56 - 8 * i));
    out[10] = ',';
    out[11] = ' ';
    return out + 12;
}

}  // namespace

char* format_word_line_scalar(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    if (magic_pink)
        apply_magic_pink_rule_to_pairs(pixels, pairs);
    for (std::uint32_t pair = 0; pair < pairs; ++pair, pixels += 6)
        out = format_word(encode_pixel_pair(pixels[2], pixels[1], pixels[0], pixels[5], pixels[4], pixels[3]), out);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

#ifdef PIXMAR_HAVE_SSE2_WORDS

namespace {

// The exact integer arithmetic of the pixel-pair word, four pixels at a time:
// the weights are those of word_weights.h, the division is the one whose
// exactness word_line.h argues.
struct Components {
    __m128i luma, cb, cr;  // one pixel a 32-bit lane, each 0..255
};

__m128i divide(__m128i numerator, float reciprocal)
{
    const __m128 value = _mm_add_ps(_mm_cvtepi32_ps(numerator), _mm_set1_ps(0.5f));
    const __m128 quotient = _mm_mul_ps(value, _mm_set1_ps(reciprocal));
#ifdef __wasm_simd128__
    // The SSE2 headers emulate the truncation a lane at a time, for values
    // out of range; every quotient here is below 256, where WebAssembly's own
    // saturating truncation gives the same.
    return wasm_i32x4_trunc_sat_f32x4(quotient);
#else
    return _mm_cvttps_epi32(quotient);
#endif
}

// Four pixels from exactly 12 bytes, one a lane: 0x??RRGGBB.
__m128i load_four_pixels(const std::uint8_t* pixels)
{
    std::int32_t tail;
    std::memcpy(&tail, pixels + 8, 4);
    // B0 G0 R0 B1 G1 R1 B2 G2 | R2 B3 G3 R3
    const __m128i bytes = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels)),
                                             _mm_cvtsi32_si128(tail));
    const __m128i first = _mm_unpacklo_epi32(bytes, _mm_srli_si128(bytes, 3));
    const __m128i second = _mm_unpacklo_epi32(_mm_srli_si128(bytes, 6), _mm_srli_si128(bytes, 9));
    return _mm_unpacklo_epi64(first, second);
}

Components components_of(__m128i pixels)
{
    const __m128i blue_red = _mm_and_si128(pixels, _mm_set1_epi32(0x00FF00FF));
    const __m128i green = _mm_and_si128(_mm_srli_epi32(pixels, 8), _mm_set1_epi32(0xFF));
    const __m128i green_green = _mm_or_si128(green, _mm_slli_epi32(green, 16));
    const __m128i luma = _mm_add_epi32(_mm_madd_epi16(blue_red, _mm_set1_epi32(kLumaRedBlue)),
                                       _mm_madd_epi16(green, _mm_set1_epi32(kLumaGreen)));
    const __m128i cb_half = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(blue_red, _mm_set1_epi32(kCbHalfRedBlue)),
                                                        _mm_madd_epi16(green, _mm_set1_epi32(kCbHalfGreen))),
                                          _mm_set1_epi32(kCbHalfOffset));
    const __m128i cr = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(blue_red, _mm_set1_epi32(kCrRedBlue)),
                                                   _mm_madd_epi16(blue_red, _mm_set1_epi32(kCrRedAgain))),
                                     _mm_add_epi32(_mm_madd_epi16(green_green, _mm_set1_epi32(kCrGreenGreen)),
                                                   _mm_set1_epi32(kCrOffset)));
    return Components{divide(luma, 1.0f / 1000), divide(_mm_srli_epi32(cb_half, 4), 1.0f / 3125),
                      divide(_mm_srli_epi32(cr, 5), 1.0f / 3125)};
}

// The words of two pairs, in lanes 0 and 1.
__m128i pair_words(const Components& c)
{
    // Each 64-bit lane holds a pair: the left pixel low, the right one high.
    // Cr in the low and Cb in the high half of each 32-bit lane: one addition
    // sums both over the pair (at most 510, so the halves stay apart), one
    // shift halves both.
    const __m128i chroma = _mm_or_si128(_mm_slli_epi32(c.cb, 16), c.cr);
    const __m128i pair_chroma = _mm_srli_epi16(_mm_add_epi32(chroma, _mm_srli_epi64(chroma, 32)), 1);
    // srli_epi64 by 24 brings the right pixel's luma to bits 8-15 (the left
    // one's, below 256, shifts out).
    const __m128i words =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi32(c.luma, 24), _mm_srli_epi64(c.luma, 24)), pair_chroma);
    return _mm_shuffle_epi32(words, _MM_SHUFFLE(2, 0, 2, 0));
}

// Writes "0xHHHHHHHH, " for each of the four words in lanes 0-3, 12 bytes
// each, storing 4 bytes of zeros past the last.
void format_four_words(__m128i words, char* out)
{
    // Byte-swap each word, so the most significant nibble comes first.
    __m128i x = _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8));
    x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(x, 4), nibble);
    const __m128i low = _mm_and_si128(x, nibble);
    const auto ascii = [](__m128i digits) {
        const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(digits, _mm_set1_epi8(9)), _mm_set1_epi8(7));
        return _mm_add_epi8(_mm_add_epi8(digits, _mm_set1_epi8('0')), letters);
    };
    const __m128i first = ascii(_mm_unpacklo_epi8(high, low));   // words 0 and 1, 8 digits each
    const __m128i second = ascii(_mm_unpackhi_epi8(high, low));  // words 2 and 3
    const __m128i frame = _mm_setr_epi8('0', 'x', 0, 0, 0, 0, 0, 0, 0, 0, ',', ' ', 0, 0, 0, 0);
    const auto store = [&](__m128i digits, char* at) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm_or_si128(frame, _mm_slli_si128(_mm_move_epi64(digits), 2)));
    };
    store(first, out);
    store(_mm_srli_si128(first, 8), out + 12);
    store(second, out + 24);
    store(_mm_srli_si128(second, 8), out + 36);
}

// True when one of the four pixels is magic pink.
bool has_magic_pink(__m128i pixels)
{
    const __m128i colour = _mm_and_si128(pixels, _mm_set1_epi32(0x00FFFFFF));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(colour, _mm_set1_epi32(0x00FF00FF))) != 0;
}

}  // namespace

char* format_word_line_sse2(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    // An odd last pair is encoded from a copy, so that nothing past the
    // line's own pixels is read; the rule applies to the pixels themselves.
    std::uint8_t last[12] = {};
    if (pairs % 2 != 0) {
        if (magic_pink)
            apply_magic_pink_rule_to_pairs(pixels + 6 * (pairs - 1), 1);
        std::memcpy(last, pixels + 6 * (pairs - 1), 6);
    }
    const auto two_words = [&](std::uint32_t pair) {
        std::uint8_t* source = pair + 1 < pairs ? pixels + 6 * pair : last;
        __m128i four = load_four_pixels(source);
        // The rule runs only where a pixel is magic pink, which is rare.
        if (magic_pink && source != last && has_magic_pink(four)) {
            apply_magic_pink_rule_to_pairs(source, 2);
            four = load_four_pixels(source);
        }
        return pair_words(components_of(four));
    };
    // Four words at a time; past the last pair, the words are formatted but
    // the line ends before them (within kMaxWordLineBytes).
    for (std::uint32_t pair = 0; pair < pairs; pair += 4) {
        const __m128i words = pair + 2 < pairs ? _mm_unpacklo_epi64(two_words(pair), two_words(pair + 2))
                                               : two_words(pair);
        format_four_words(words, out + 12 * pair);
    }
    out += 12 * pairs;
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

#endif

#ifdef PIXMAR_HAVE_X86_WORDS

namespace {

// What the processor offers and the system saves on a switch of task, read
// with as few cpuid instructions as possible: in a virtual machine each one
// traps to the host, and a general feature scan cost a small conversion a
// noticeable part of its time.
struct VectorSupport {
    bool avx2 = false;    // AVX2 and FMA, with the 256-bit registers saved
    bool avx512 = false;  // and AVX-512 F, BW and VBMI, with all of their state saved
};

VectorSupport vector_support()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0)
        return {};
    const bool fma = (ecx & bit_FMA) != 0;
    unsigned saved_low = 0, saved_high = 0;
    __asm__("xgetbv" : "=a"(saved_low), "=d"(saved_high) : "c"(0));
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return {};
    VectorSupport support;
    support.avx2 = fma && (ebx & bit_AVX2) != 0 && (saved_low & 0x06) == 0x06;  // SSE and AVX state
    support.avx512 = support.avx2 && (ebx & bit_AVX512F) != 0 && (ebx & bit_AVX512BW) != 0 &&
                     (ecx & bit_AVX512VBMI) != 0 && (saved_low & 0xE6) == 0xE6;  // and the mask and upper registers
    return support;
}

const VectorSupport& processor_support()
{
    static const VectorSupport support = vector_support();
    return support;
}

}  // namespace

bool processor_has_avx2() { return processor_support().avx2; }

bool processor_has_avx512() { return processor_support().avx512; }

#endif

WordLineFormatter word_line_formatter()
{
#if defined(PIXMAR_HAVE_X86_WORDS)
    static const WordLineFormatter best = processor_has_avx512() ? format_word_line_avx512
                                          : processor_has_avx2()   ? format_word_line_avx2
                                                                   : format_word_line_sse2;
    return best;
#elif defined(PIXMAR_HAVE_SSE2_WORDS)
    return format_word_line_sse2;
#else
    return format_word_line_scalar;
#endif
}

}  // namespace pixmar
