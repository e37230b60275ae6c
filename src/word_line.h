// Formatting the words of a line of pixels as the header's text: at most 8
// words (16 pixels) a line, each written "0xHHHHHHHH, " (12 bytes), then
// CR LF. Every formatter gives the same bytes: the scalar one, which encodes
// with encode_pixel_pair and is the reference, and the vector one of
// word_line.cpp, built for each vector width that earns its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixmar {

inline constexpr std::uint32_t kPixelsPerLine = 16;

// What one call may write from `out`: 8 words and CR LF.
inline constexpr std::size_t kMaxWordLineBytes = 8 * 12 + 2;

// Formats one line: `pairs` (1 to 8) words from the pixels at `pixels`
// (blue, green, red each), then CR LF. With `magic_pink` the pair rule is
// applied to the pixels in place first. Reads only those pixels. Returns the
// end of the line, which lies within kMaxWordLineBytes of `out`.
using WordLineFormatter = char* (*)(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

char* format_word_line_scalar(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out);

struct NamedWordLineFormatter {
    const char* name;  // "scalar", or the instruction set: "SSE4", "AVX2", "NEON", "WASM"
    WordLineFormatter format;
};

// Every formatter this processor runs, the scalar reference first and the
// widest last: for the tests and the benchmarks.
std::vector<NamedWordLineFormatter> word_line_formatters();

// The widest formatter this processor runs. Decided once.
WordLineFormatter word_line_formatter();

}  // namespace pixmar
