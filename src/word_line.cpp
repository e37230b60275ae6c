// The word formatters. The scalar one encodes with encode_pixel_pair, the
// reference, and serves every processor. The vector one is this file's
// Highway section, compiled once for each instruction set below (the file
// includes itself through hwy/foreach_target.h); word_line_formatter picks
// the widest one the processor runs, asking it through the compiler's
// __builtin_cpu_supports.
//
// A vector line splits its sixteen pixels' 48 bytes into blue, green and
// red, and encodes them a group at a time (as many pixels as the vector has
// 32-bit lanes): each pixel's luma, Cb and Cr in a 32-bit lane, then each
// pair's word in a 64-bit lane, packed to 32 bits. The words' hex digits
// come from a table look-up of their nibbles, and byte shuffles lay them out
// with "0x" and ", ", four words in three 16-byte stores.
//
// Why the division is exact. Each numerator n is a whole number from 0 to
// below 2^23: luma's n < 255001 with d = 1000; Cb's and Cr's numerators
// shifted right by 5 (floor(n / 32) < 798438, since 100000 = 32 x 3125) with
// d = 3125. The quotient q = floor(n / d) is taken as (n + 0.5) x r
// rounded down, r = float(1 / d): n and n + 0.5 are exact in a float, and two
// roundings follow, that of r and that of the product, each relative and at
// most 2^-24. The result lies within 2 x 2^-24 x 256 = 3.1e-5 of
// (n + 0.5) / d, a value below 256 that lies at least 0.5 / d from every
// whole number; with d at most 3125, 0.5 / d = 1.6e-4 > 3.1e-5, so
// rounding down gives q exactly. The tests check all 2^24 colours against the
// scalar arithmetic.
#include "word_line.h"

#include <cstdlib>
#include <cstring>

#include "magic_pink.h"
#include "pixel_pair.h"

#ifdef PIXMAR_WITHOUT_HIGHWAY
// Built without Highway's headers: the scalar formatter serves alone.
#define HWY_ONCE 1
#else
// Highway is used from its headers alone; its debug builds' checks would
// call hwy::Abort, which lives in its library.
#ifndef HWY_IS_DEBUG_BUILD
#define HWY_IS_DEBUG_BUILD 0
#endif
// The widths that earn their place in a whole run (bench/widths.sh): on
// x86-64 the 128-bit SSE4 and the 256-bit AVX2 ones (AVX-512 made a
// 4096 x 4096 run no faster than AVX2); elsewhere the baseline (NEON,
// WebAssembly SIMD), unless that is Highway's emulation; Arm's scalable
// vectors are not built, the formatter being chosen from NEON alone.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_AVX3 | HWY_AVX3_DL | HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "word_line.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/cache_control.h>
#include <hwy/highway.h>

// Highway's scalar target lacks the widening this needs; where it is the
// only one, the scalar formatter serves.
#if HWY_TARGET != HWY_SCALAR
HWY_BEFORE_NAMESPACE();
namespace pixmar {
namespace HWY_NAMESPACE {

// This instruction set's vector formatter (word_line.h's contract).
char* format_word_line(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

namespace {

namespace hn = hwy::HWY_NAMESPACE;

using Pixels32 = hn::CappedTag<std::int32_t, kPixelsPerLine>;  // a pixel a lane
using Pixels8 = hn::Rebind<std::uint8_t, Pixels32>;             // one component of each
using Pairs64 = hn::Repartition<std::uint64_t, Pixels32>;        // a pair a lane
using V32 = hn::Vec<Pixels32>;
using V8 = hn::Vec<Pixels8>;
using V64 = hn::Vec<Pairs64>;

// floor(n / d) for 0 <= n < 2^23, as the opening block argues. The product
// q + f (f at least 1.3e-4 from 0 and from 1) less 0.5 is exact from q = 1
// on, and within 2^-25 below; adding 1.5 x 2^23, where floats are whole
// numbers, rounds that to q: the sum's bits, less those of 1.5 x 2^23, are
// q. (A conversion instruction would truncate, but Highway's conversion
// also mends overflow, which costs more here.)
V32 divide(V32 numerator, float reciprocal)
{
    const hn::Rebind<float, Pixels32> f;
    const auto quotient = hn::Mul(hn::Add(hn::ConvertTo(f, numerator), hn::Set(f, 0.5f)), hn::Set(f, reciprocal));
    const auto whole = hn::Add(hn::Sub(quotient, hn::Set(f, 0.5f)), hn::Set(f, 12582912.0f));
    return hn::Sub(hn::BitCast(Pixels32(), whole), hn::Set(Pixels32(), 0x4B40'0000));
}

V32 weighted(V32 red, std::int32_t r, V32 green, std::int32_t g, V32 blue, std::int32_t b, std::int32_t offset)
{
    const Pixels32 d;
    return hn::Add(hn::Add(hn::Mul(red, hn::Set(d, r)), hn::Mul(green, hn::Set(d, g))),
                   hn::Add(hn::Mul(blue, hn::Set(d, b)), hn::Set(d, offset)));
}

// The words of the group's pairs, each in the low half of its lane: the
// integers of encode_pixel_pair.
V64 pair_words(V8 blue8, V8 green8, V8 red8)
{
    const Pixels32 d;
    const Pairs64 d64;
    const V32 blue = hn::PromoteTo(d, blue8), green = hn::PromoteTo(d, green8), red = hn::PromoteTo(d, red8);
    const V32 luma = divide(weighted(red, 299, green, 587, blue, 114, 0), 1.0f / 1000);
    const V32 cb = divide(hn::ShiftRight<5>(weighted(red, -16874, green, -33126, blue, 50000, 12800000)), 1.0f / 3125);
    const V32 cr = divide(hn::ShiftRight<5>(weighted(red, 50000, green, -41869, blue, -8131, 12800000)), 1.0f / 3125);
    // A lane holds the left pixel low and the right one high. Shifted by 24
    // each way, the left luma lands in bits 24-31 and the right one in 8-15.
    const V64 y = hn::BitCast(d64, luma);
    const V64 lumas = hn::And(hn::Or(hn::ShiftLeft<24>(y), hn::ShiftRight<24>(y)), hn::Set(d64, 0xFFFF'FFFFu));
    // Cb in the high and Cr in the low half of each pixel's 32 bits: one
    // addition sums both over the pair (at most 510, so the halves stay
    // apart), one shift halves both.
    const V64 c = hn::BitCast(d64, hn::Or(hn::ShiftLeft<16>(cb), cr));
    const V64 chroma = hn::And(hn::ShiftRight<1>(hn::Add(c, hn::ShiftRight<32>(c))), hn::Set(d64, 0x00FF'00FFu));
    return hn::Or(lumas, chroma);
}

// bytes[from[i]] for each byte, 0 where from[i] is 0x80. Highway 1.0.3 looks
// bytes up one at a time on WebAssembly (for engines before V8's fix of
// 2021), which made the page's formatting seven times slower; the
// instruction itself serves every engine the page supports.
template <class V>
V lookup_bytes(V bytes, V from)
{
#if HWY_TARGET == HWY_WASM
    return V{wasm_i8x16_swizzle(bytes.raw, from.raw)};
#else
    return hn::TableLookupBytesOr0(bytes, from);
#endif
}

// For each component (blue, green, red) and each 16 bytes of a line's 48,
// where in those 16 bytes each pixel's component lies.
struct ComponentLayout {
    std::uint8_t from[3][3][16];  // [component][16 bytes][pixel]; 0x80: not there
};

constexpr ComponentLayout component_layout()
{
    ComponentLayout layout{};
    for (int component = 0; component < 3; ++component)
        for (int part = 0; part < 3; ++part)
            for (int pixel = 0; pixel < 16; ++pixel) {
                const int at = 3 * pixel + component - 16 * part;
                layout.from[component][part][pixel] = at >= 0 && at < 16 ? std::uint8_t(at) : 0x80;
            }
    return layout;
}
alignas(16) constexpr ComponentLayout kComponentLayout = component_layout();

// One component of the line's sixteen pixels, from its three 16-byte parts.
hn::Vec<hn::Full128<std::uint8_t>> component_of(const hn::Vec<hn::Full128<std::uint8_t>> (&parts)[3], int component)
{
    const hn::Full128<std::uint8_t> d;
    const auto& from = kComponentLayout.from[component];
    return hn::Or(hn::Or(lookup_bytes(parts[0], hn::Load(d, from[0])), lookup_bytes(parts[1], hn::Load(d, from[1]))),
                  lookup_bytes(parts[2], hn::Load(d, from[2])));
}

// Where each of the 48 bytes of four words' text comes from: a word's
// high or low nibbles (its bytes little-endian, so its last byte first), or
// the frame "0x" and ", ".
struct TextLayout {
    std::uint8_t from_high[3][16], from_low[3][16], frame[3][16];  // 0x80: none
};

constexpr TextLayout text_layout()
{
    TextLayout layout{};
    for (int at = 0; at < 48; ++at) {
        const int place = at % 12, digit = place - 2, byte = at / 12 * 4 + 3 - digit / 2;
        const bool is_digit = place >= 2 && place < 10;
        layout.from_high[at / 16][at % 16] = is_digit && digit % 2 == 0 ? std::uint8_t(byte) : 0x80;
        layout.from_low[at / 16][at % 16] = is_digit && digit % 2 == 1 ? std::uint8_t(byte) : 0x80;
        layout.frame[at / 16][at % 16] = place == 0 ? '0' : place == 1 ? 'x' : place == 10 ? ',' : place == 11 ? ' ' : 0;
    }
    return layout;
}
alignas(16) constexpr TextLayout kTextLayout = text_layout();
alignas(16) constexpr std::uint8_t kHexDigits[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                     '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Writes "0xHHHHHHHH, " for four words, in three 16-byte stores.
void write_four_words(const std::uint32_t* words, char* out)
{
    const hn::Full128<std::uint8_t> d;
    const auto bytes = hn::BitCast(d, hn::LoadU(hn::Full128<std::uint32_t>(), words));
    const auto hex = hn::Load(d, kHexDigits), nibble = hn::Set(d, 0x0F);
    const auto shifted = hn::BitCast(d, hn::ShiftRight<4>(hn::BitCast(hn::Full128<std::uint16_t>(), bytes)));
    const auto high = lookup_bytes(hex, hn::And(shifted, nibble));
    const auto low = lookup_bytes(hex, hn::And(bytes, nibble));
    for (int part = 0; part < 3; ++part) {
        const auto text = hn::Or(hn::Or(lookup_bytes(high, hn::Load(d, kTextLayout.from_high[part])),
                                        lookup_bytes(low, hn::Load(d, kTextLayout.from_low[part]))),
                                 hn::Load(d, kTextLayout.frame[part]));
        hn::StoreU(text, d, reinterpret_cast<std::uint8_t*>(out) + 16 * part);
    }
}

template <class D>
bool has_magic_pink(D d, hn::Vec<D> blue, hn::Vec<D> green, hn::Vec<D> red)
{
    const hn::Vec<D> full = hn::Set(d, 0xFF);
    return !hn::AllFalse(d, hn::Eq(hn::Or(hn::Or(hn::Xor(blue, full), hn::Xor(red, full)), green), hn::Zero(d)));
}

}  // namespace

char* format_word_line(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    // A shorter line ends a row whose width is no multiple of 16: rare
    // enough for the scalar formatter, which reads nothing past its pixels.
    if (pairs != kPixelsPerLine / 2)
        return format_word_line_scalar(pixels, pairs, magic_pink, out);
    // Rows are formatted last to first, and the processor's own prefetcher
    // stops at each 4 KiB boundary, so without this hint a large image waits
    // on memory for a good part of its formatting. A hint never faults.
    hwy::Prefetch(pixels + 1024);
    // The line's 48 bytes are split into its components in one go, then
    // taken a group of pixels at a time.
    const hn::Full128<std::uint8_t> line;
    hn::Vec<decltype(line)> parts[3] = {hn::LoadU(line, pixels), hn::LoadU(line, pixels + 16),
                                        hn::LoadU(line, pixels + 32)};
    // The rule runs only where a pixel is magic pink, which is rare.
    if (magic_pink && has_magic_pink(line, component_of(parts, 0), component_of(parts, 1), component_of(parts, 2))) {
        apply_magic_pink_rule_to_pairs(pixels, kPixelsPerLine / 2);
        for (int part = 0; part < 3; ++part)
            parts[part] = hn::LoadU(line, pixels + 16 * part);
    }
    const auto blue = component_of(parts, 0), green = component_of(parts, 1), red = component_of(parts, 2);
    alignas(16) std::uint8_t components[3][kPixelsPerLine];
    hn::Store(blue, line, components[0]);
    hn::Store(green, line, components[1]);
    hn::Store(red, line, components[2]);
    const Pixels8 d8;
    const std::size_t group = hn::Lanes(d8);
    const hn::Rebind<std::uint32_t, Pairs64> d32;
    std::uint32_t words[kPixelsPerLine / 2];
    for (std::size_t first = 0; first < kPixelsPerLine; first += group) {
        const V64 pair_lanes = pair_words(hn::LoadU(d8, components[0] + first), hn::LoadU(d8, components[1] + first),
                                          hn::LoadU(d8, components[2] + first));
        hn::StoreU(hn::TruncateTo(d32, pair_lanes), d32, words + first / 2);
    }
    write_four_words(words, out);
    write_four_words(words + 4, out + 48);
    std::memcpy(out + 96, "\r\n", 2);
    return out + 98;
}

}  // namespace HWY_NAMESPACE
}  // namespace pixmar
HWY_AFTER_NAMESPACE();
#endif
#endif  // PIXMAR_WITHOUT_HIGHWAY

#if HWY_ONCE

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

std::vector<NamedWordLineFormatter> word_line_formatters()
{
    std::vector<NamedWordLineFormatter> formatters = {{"scalar", format_word_line_scalar}};
#if defined(PIXMAR_WITHOUT_HIGHWAY)
#elif HWY_ARCH_X86
    if (__builtin_cpu_supports("sse4.2"))
        formatters.push_back({"SSE4", N_SSE4::format_word_line});
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2"))
        formatters.push_back({"AVX2", N_AVX2::format_word_line});
#elif HWY_STATIC_TARGET != HWY_EMU128 && HWY_STATIC_TARGET != HWY_SCALAR && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    formatters.push_back({hwy::TargetName(HWY_STATIC_TARGET), HWY_STATIC_DISPATCH(format_word_line)});
#endif
    return formatters;
}

WordLineFormatter word_line_formatter()
{
    static const WordLineFormatter widest = [] {
        const std::vector<NamedWordLineFormatter> formatters = word_line_formatters();
#ifdef PIXMAR_WORD_FORMATTER_CHOICE
        // The benchmark's builds run the whole program with a narrower one.
        if (const char* name = std::getenv("PIXMAR_WORD_FORMATTER"))
            for (const NamedWordLineFormatter& formatter : formatters)
                if (std::strcmp(formatter.name, name) == 0)
                    return formatter.format;
#endif
        return formatters.back().format;
    }();
    return widest;
}

}  // namespace pixmar

#endif
