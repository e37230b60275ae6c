// The word formatters. The scalar one encodes with encode_pixel_pair, the
// reference, and serves every processor. The vector one is this file's
// Highway section, compiled once for each instruction set below (the file
// includes itself through hwy/foreach_target.h); word_line_formatter picks
// the widest one the processor runs, asking it through the compiler's
// __builtin_cpu_supports.
//
// A vector line takes its sixteen pixels' 48 bytes a group at a time (as
// many pixels as the vector has 32-bit lanes), each pixel's components
// shuffled into the 16-bit halves of its lane, so that 16-bit multiply-adds
// give the numerators of its luma, Cb and Cr; then each pair's word in a
// 64-bit lane. The words' hex digits come from a table look-up of their
// nibbles, and byte shuffles lay them out with "0x" and ", ", four words
// in each 48 bytes.
//
// Why the division is exact. Each numerator n is a whole number from 0 to
// below 2^23: luma's n < 255001 with d = 1000; Cb's and Cr's numerators
// shifted right by 5 (floor(n / 32) < 798438, since 100000 = 32 x 3125) with
// d = 3125. (n + 0.5) / d is q + f, q = floor(n / d), with f at least
// 0.5 / d >= 1.6e-4 from 0 and from 1. The formatter computes
// n x r + (r / 2 - 0.5), r = float(1 / d), in floats: n is exact, and the
// roundings (of r, of r / 2 - 0.5, of the product, of the sum) are each
// within 2^-24 x 256 = 1.5e-5 here, 4.6e-5 in all. The result lies within
// that of q + f - 0.5, so rounding it to the nearest whole number gives q
// exactly. The tests check all 2^24 colours against the scalar arithmetic.
#include "word_line.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

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
using Pixels16 = hn::Repartition<std::int16_t, Pixels32>;       // its two 16-bit halves
using Pixels8 = hn::Repartition<std::uint8_t, Pixels32>;        // its four bytes
using Pairs64 = hn::Repartition<std::uint64_t, Pixels32>;       // a pair a lane
using V32 = hn::Vec<Pixels32>;
using V8 = hn::Vec<Pixels8>;
using V64 = hn::Vec<Pairs64>;

// The weights as the 16-bit multiply-adds take them: each 32-bit constant is
// a pair (high, low) of signed 16-bit weights for a pixel's lane of two
// 16-bit components. Weights above 32767 are split: Cb's numerator is even,
// so half of it is computed (25000 B - 8437 R - 16563 G + 6400000, shifted
// right by 4 where the whole one would be by 5); Cr takes 25000 R twice and
// G times (-20935, -20934) from the lane (G, G).
constexpr std::int32_t weight_pair(int high, int low)
{
    return std::int32_t(std::uint32_t(std::uint16_t(high)) << 16 | std::uint16_t(low));
}
// Applied to the lanes (R, B), (0, G) and (G, G).
constexpr std::int32_t kLumaRedBlue = weight_pair(299, 114), kLumaGreen = weight_pair(0, 587);
constexpr std::int32_t kCbHalfRedBlue = weight_pair(-8437, 25000), kCbHalfGreen = weight_pair(0, -16563);
constexpr std::int32_t kCrRedBlue = weight_pair(25000, -8131), kCrRedAgain = weight_pair(25000, 0);
constexpr std::int32_t kCrGreenGreen = weight_pair(-20934, -20935);
constexpr std::int32_t kCbHalfOffset = 6400000, kCrOffset = 12800000;

// A group of pixels, each lane's two 16-bit halves holding the components
// its weights apply to.
struct PixelLanes {
    V32 blue_red, green, green_green;  // (R, B), (0, G) and (G, G)
};

// Each lane's (low x low + high x high) summed over the terms, plus offset.
// The offset is added after the products are rearranged: on some targets
// (NEON) the two accumulators hold single products, which the rearranging
// sums in pairs, so an offset in them would count twice in half the lanes.
HWY_INLINE V32 multiply_add(std::initializer_list<std::pair<V32, std::int32_t>> terms, std::int32_t offset)
{
    const Pixels32 d;
    const Pixels16 d16;
    V32 sum = hn::Zero(d), odd = hn::Zero(d);
    for (const auto& [lanes, weights] : terms)
        sum = hn::ReorderWidenMulAccumulate(d, hn::BitCast(d16, lanes), hn::BitCast(d16, hn::Set(d, weights)), sum, odd);
    return hn::Add(hn::RearrangeToOddPlusEven(sum, odd), hn::Set(d, offset));
}

// floor(n / d) for 0 <= n < 2^23, as the opening block argues, in the low
// 8 bits of each lane; the bits above hold 0x4B4000, which the caller
// shifts or blends away. Adding 1.5 x 2^23, where floats are whole numbers,
// rounds to the nearest one, whose low bits are then q. (A conversion
// instruction would round too, but Highway's conversion also mends
// overflow, which costs more here.)
HWY_INLINE V32 biased_quotient(V32 numerator, float reciprocal)
{
    const hn::Rebind<float, Pixels32> f;
    const auto less_half = hn::MulAdd(hn::ConvertTo(f, numerator), hn::Set(f, reciprocal), hn::Set(f, reciprocal / 2 - 0.5f));
    return hn::BitCast(Pixels32(), hn::Add(less_half, hn::Set(f, 12582912.0f)));
}

// The words of the group's pairs, each in the low half of its 64-bit lane
// (the high half is left over): the integers of encode_pixel_pair.
HWY_INLINE V64 pair_words(const PixelLanes& pixels)
{
    const Pairs64 d64;
    const hn::Repartition<std::uint16_t, Pixels32> d16;
    const V32 luma =
        biased_quotient(multiply_add({{pixels.blue_red, kLumaRedBlue}, {pixels.green, kLumaGreen}}, 0), 1.0f / 1000);
    const V32 cb = biased_quotient(
        hn::ShiftRight<4>(multiply_add({{pixels.blue_red, kCbHalfRedBlue}, {pixels.green, kCbHalfGreen}}, kCbHalfOffset)),
        1.0f / 3125);
    const V32 cr = biased_quotient(hn::ShiftRight<5>(multiply_add({{pixels.blue_red, kCrRedBlue},
                                                                   {pixels.blue_red, kCrRedAgain},
                                                                   {pixels.green_green, kCrGreenGreen}},
                                                                  kCrOffset)),
                                   1.0f / 3125);
    // A 64-bit lane holds the left pixel low and the right one high. Each
    // luma shifted to the top of its 32 bits, the right one then comes down
    // by 48 to bits 8-15, below the left one in bits 24-31.
    const V64 y = hn::BitCast(d64, hn::ShiftLeft<24>(luma));
    const V64 lumas = hn::Or(y, hn::ShiftRight<48>(y));
    // Cb in the high and Cr in the low 16 bits of each pixel's 32: one
    // addition sums both over the pair (at most 510, so the halves stay
    // apart), one 16-bit shift halves both.
    const V64 c = hn::BitCast(d64, hn::OddEven(hn::BitCast(d16, hn::ShiftLeft<16>(cb)), hn::BitCast(d16, cr)));
    const V64 chroma = hn::BitCast(d64, hn::ShiftRight<1>(hn::BitCast(d16, hn::Add(c, hn::ShiftRight<32>(c)))));
    return hn::Or(lumas, chroma);
}

// bytes[from[i]] for each byte, 0 where from[i] is 0x80; within each 16
// bytes, on every target. Highway 1.0.3 looks bytes up one at a time on
// WebAssembly (for engines before V8's fix of 2021), which made the page's
// formatting seven times slower; the instruction itself serves every engine
// the page supports.
template <class V>
V lookup_bytes(V bytes, V from)
{
#if HWY_TARGET == HWY_WASM
    return V{wasm_i8x16_swizzle(bytes.raw, from.raw)};
#else
    return hn::TableLookupBytesOr0(bytes, from);
#endif
}

// A line's sixteen pixels lie in four blocks of four pixels, 12 bytes each.
// Block k is loaded as the 16 bytes from min(12 k, 32), which stay within the
// line's 48 bytes; a vector takes as many blocks as it has 16-byte parts.
constexpr std::size_t kBlocksPerLine = kPixelsPerLine / 4;
constexpr std::size_t block_offset(std::size_t block) { return block * 12 < 32 ? block * 12 : 32; }

template <class D>
hn::Vec<D> load_blocks(D d, const std::uint8_t* pixels, std::size_t first_block)
{
    if constexpr (hn::MaxLanes(D()) <= 16) {
        return hn::LoadU(d, pixels + block_offset(first_block));
    } else {
        const hn::Half<D> half;
        return hn::Combine(d, load_blocks(half, pixels, first_block + hn::MaxLanes(half) / 16),
                           load_blocks(half, pixels, first_block));
    }
}

// For each block, where in its 16 loaded bytes each lane's bytes come from:
// (B, 0, R, 0), (G, 0, 0, 0) and (G, 0, G, 0); 0x80: a zero byte.
struct LaneLayout {
    std::uint8_t blue_red[kBlocksPerLine][16], green[kBlocksPerLine][16], green_green[kBlocksPerLine][16];
};

constexpr LaneLayout lane_layout()
{
    LaneLayout layout{};
    for (std::size_t block = 0; block < kBlocksPerLine; ++block)
        for (int pixel = 0; pixel < 4; ++pixel) {
            const int at = int(block * 12 - block_offset(block)) + 3 * pixel, lane = 4 * pixel;
            const std::uint8_t blue = std::uint8_t(at), green = std::uint8_t(at + 1), red = std::uint8_t(at + 2);
            const std::uint8_t none = 0x80;
            const std::uint8_t blue_red[4] = {blue, none, red, none}, green_only[4] = {green, none, none, none},
                               green_green[4] = {green, none, green, none};
            for (int byte = 0; byte < 4; ++byte) {
                layout.blue_red[block][lane + byte] = blue_red[byte];
                layout.green[block][lane + byte] = green_only[byte];
                layout.green_green[block][lane + byte] = green_green[byte];
            }
        }
    return layout;
}
alignas(64) constexpr LaneLayout kLaneLayout = lane_layout();

// The pixels of the line's group that starts at `first_block`.
PixelLanes pixel_lanes(const std::uint8_t* pixels, std::size_t first_block)
{
    const Pixels8 d8;
    const Pixels32 d;
    const V8 bytes = load_blocks(d8, pixels, first_block);
    const auto lanes = [&](const std::uint8_t (&from)[kBlocksPerLine][16]) {
        return hn::BitCast(d, lookup_bytes(bytes, hn::Load(d8, from[first_block])));
    };
    return PixelLanes{lanes(kLaneLayout.blue_red), lanes(kLaneLayout.green), lanes(kLaneLayout.green_green)};
}

// True when a pixel of the group is magic pink: (R, B) both 255, G zero.
bool has_magic_pink(const PixelLanes& pixels)
{
    const Pixels32 d;
    return !hn::AllFalse(d, hn::And(hn::Eq(pixels.blue_red, hn::Set(d, 0x00FF'00FF)), hn::Eq(pixels.green, hn::Zero(d))));
}

// The text of a vector of words, "0xHHHHHHHH, " each, four words (48
// bytes) from each 16-byte part. Each word byte's two nibbles are
// interleaved into digit order, words 0 and 1 of each part in `first` and
// 2 and 3 in `second` (bytes little-endian, so a word's last byte first).
// This layout says where each of the 48 bytes comes from: `first`,
// `second`, or the frame "0x" and ", ".
struct TextLayout {
    std::uint8_t from_first[3][16], from_second[3][16], frame[3][16];  // 0x80: none
};

constexpr TextLayout text_layout()
{
    TextLayout layout{};
    for (int at = 0; at < 48; ++at) {
        const int place = at % 12, word = at / 12, digit = place - 2;
        const bool is_digit = place >= 2 && place < 10;
        const std::uint8_t from = std::uint8_t(2 * (4 * (word % 2) + 3 - digit / 2) + digit % 2);
        layout.from_first[at / 16][at % 16] = is_digit && word < 2 ? from : 0x80;
        layout.from_second[at / 16][at % 16] = is_digit && word >= 2 ? from : 0x80;
        layout.frame[at / 16][at % 16] = place == 0 ? '0' : place == 1 ? 'x' : place == 10 ? ',' : place == 11 ? ' ' : 0;
    }
    return layout;
}
alignas(16) constexpr TextLayout kTextLayout = text_layout();
alignas(16) constexpr std::uint8_t kHexDigits[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                     '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};

// Writes the text of the vector's words: 48 bytes for each 16-byte part,
// in 16-byte stores, or for 32-byte vectors in 32-byte ones, their halves
// regrouped so that the text runs in the words' order.
template <class D>
void write_words(D d8, hn::Vec<D> bytes, char* out)
{
    const auto table = [&](const std::uint8_t (&from)[16]) { return hn::LoadDup128(d8, from); };
    const hn::Repartition<std::uint16_t, D> d16;
    const auto nibble = hn::Set(d8, 0x0F), hex = table(kHexDigits);
    const auto high = hn::And(hn::BitCast(d8, hn::ShiftRight<4>(hn::BitCast(d16, bytes))), nibble);
    const auto low = hn::And(bytes, nibble);
    const auto first = lookup_bytes(hex, hn::InterleaveLower(d8, high, low));
    const auto second = lookup_bytes(hex, hn::InterleaveUpper(d8, high, low));
    hn::Vec<D> parts[3];
    for (int part = 0; part < 3; ++part)
        parts[part] = hn::Or(hn::Or(lookup_bytes(first, table(kTextLayout.from_first[part])),
                                    lookup_bytes(second, table(kTextLayout.from_second[part]))),
                             table(kTextLayout.frame[part]));
    auto* const text = reinterpret_cast<std::uint8_t*>(out);
    if constexpr (hn::MaxLanes(D()) == 16) {
        for (int part = 0; part < 3; ++part)
            hn::StoreU(parts[part], d8, text + 16 * part);
    } else {
        static_assert(hn::MaxLanes(D()) == 32, "formatters are built for 16- and 32-byte vectors");
        // Lower halves hold words 0-3 (bytes 0-47), upper halves 4-7 (48-95).
        hn::StoreU(hn::ConcatLowerLower(d8, parts[1], parts[0]), d8, text);
        hn::StoreU(hn::ConcatUpperLower(d8, parts[0], parts[2]), d8, text + 32);
        hn::StoreU(hn::ConcatUpperUpper(d8, parts[2], parts[1]), d8, text + 64);
    }
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
    constexpr std::size_t kBlocksPerGroup = hn::MaxLanes(Pixels8()) / 16;
    constexpr std::size_t kGroups = kBlocksPerLine / kBlocksPerGroup;
    // Pairs of groups give vectors of words in order, each word from the
    // low half of its 64-bit lane.
    const hn::Repartition<std::uint32_t, Pairs64> d32;
    for (std::size_t group = 0; group < kGroups; group += 2) {
        const std::size_t block = group * kBlocksPerGroup;
        PixelLanes left = pixel_lanes(pixels, block), right = pixel_lanes(pixels, block + kBlocksPerGroup);
        // The rule, which acts on each pair alone, runs only where a pixel
        // is magic pink, which is rare.
        if (magic_pink && (has_magic_pink(left) || has_magic_pink(right))) {
            apply_magic_pink_rule_to_pairs(pixels + 12 * block, std::uint32_t(4 * kBlocksPerGroup));
            left = pixel_lanes(pixels, block);
            right = pixel_lanes(pixels, block + kBlocksPerGroup);
        }
        const auto words = hn::ConcatEven(d32, hn::BitCast(d32, pair_words(right)), hn::BitCast(d32, pair_words(left)));
        write_words(Pixels8(), hn::BitCast(Pixels8(), words), out + 12 * 2 * block);
    }
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
