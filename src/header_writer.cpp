#include "header_writer.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "memory.h"
#include "output_file.h"
#include "word_line.h"

namespace pixmar {

namespace {

// Text is built in blocks and written a block at a time, so memory stays
// flat however large the image is.
constexpr std::size_t kOutputBlock = std::size_t(1) << 20;

// The comment, the macros and the array line, as one piece of text.
std::string preamble(const std::string& path, const DerivedNames& names, const PixelBuffer& pixels)
{
    // 64-bit: the height of a top-down bitmap may be 2^31, which no int holds.
    const long long width = pixels.width;
    const long long height = pixels.height;
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string& macro = names.macro_prefix;
    return "/*\r\n * File  : " + path + "\r\n * Width : " + w + "\r\n * Height: " + h + "\r\n*/\r\n" +
           "#define " + macro + "_WIDTH   (" + w + ")\r\n" +
           "#define " + macro + "_HEIGHT  (" + h + ")\r\n" +
           "#define " + macro + "_SIZE   (" + std::to_string(height * width) + ")\r\n\r\n" +
           "const unsigned long " + names.array_prefix + "_Bitmap[" + h + "*" + w + "]={\r\n";
}

// The words of one header, in lines of up to kPixelsPerLine pixels, top
// row first. Every line but a row's last holds kPixelsPerLine pixels, so
// where any line begins is known without formatting those before it.
struct WordLines {
    PixelBuffer& pixels;
    bool magic_pink;
    WordLineFormatter format_word_line;
    std::uint32_t lines_per_row;
    std::uint64_t count;
};

// Every block holds this many lines (the last one fewer).
constexpr std::uint64_t kLinesPerBlock = kOutputBlock / kMaxWordLineBytes;

WordLines word_lines(PixelBuffer& pixels, bool magic_pink)
{
    const std::uint32_t lines_per_row = pixels.width / kPixelsPerLine + (pixels.width % kPixelsPerLine != 0);
    return {pixels, magic_pink, word_line_formatter(), lines_per_row, std::uint64_t(lines_per_row) * pixels.height};
}

// Formats lines `first` up to `end` into `out`; returns the end of their text.
char* format_lines(const WordLines& lines, std::uint64_t first, std::uint64_t end, char* out)
{
    // Row 0 is the bottom of the picture, so the last row comes first.
    std::uint32_t row = lines.pixels.height - 1 - std::uint32_t(first / lines.lines_per_row);
    std::uint32_t column = std::uint32_t(first % lines.lines_per_row) * kPixelsPerLine;
    const std::size_t row_bytes = std::size_t(lines.pixels.width) * 3;
    for (std::uint64_t line = first; line < end; ++line) {
        std::uint8_t* const pixels = lines.pixels.bytes.get() + std::size_t(row) * row_bytes + std::size_t(column) * 3;
        const std::uint32_t pairs = std::min(lines.pixels.width - column, kPixelsPerLine) / 2;
        out = lines.format_word_line(pixels, pairs, lines.magic_pink, out);
        column += kPixelsPerLine;
        if (column >= lines.pixels.width) {
            column = 0;
            --row;
        }
    }
    return out;
}

constexpr char kClosing[] = "};\r\n/* END OF FILE */\r\n";

// Writes the header's text a block at a time, each block as soon as it is
// formatted: the first one starts with `opening`, the last one ends with the
// closing lines, so that a small header is a single write. False when a
// write failed; std::bad_alloc when no block can be had.
bool write_text(OutputFile& output, const std::string& opening, PixelBuffer& pixels, bool magic_pink)
{
    const WordLines lines = word_lines(pixels, magic_pink);
    const std::size_t closing = sizeof kClosing - 1;
    const MemoryBlock memory(allocate_block(opening.size() + kOutputBlock + closing));
    if (!memory)
        throw std::bad_alloc();
    char* const block = reinterpret_cast<char*>(memory.get());
    char* end = std::copy(opening.begin(), opening.end(), block);
    std::uint64_t first = 0;
    do {
        const std::uint64_t last = std::min(first + kLinesPerBlock, lines.count);
        end = format_lines(lines, first, last, end);
        first = last;
        if (first == lines.count)
            end = std::copy(kClosing, kClosing + closing, end);
        if (!write_output(output, block, std::size_t(end - block)))
            return false;
        end = block;
    } while (first < lines.count);
    return true;
}

}  // namespace

DerivedNames derive_names(const std::string& input_path)
{
    DerivedNames names;
    names.output_file = input_path + ".h";

    names.macro_prefix = input_path;
    for (char& c : names.macro_prefix) {
        // Only ASCII a-z: bytes of other letters stay as they are.
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    const std::size_t last_dot = names.macro_prefix.rfind('.');
    if (last_dot != std::string::npos)
        names.macro_prefix.resize(last_dot);

    names.array_prefix = input_path.substr(0, input_path.find('.'));
    return names;
}

int write_header_file(const std::string& input_path, PixelBuffer& pixels, bool magic_pink)
{
    // The path stands in the header's comment and names its macros: a line
    // break would split those lines, and the header could not be read back.
    if (input_path.find_first_of("\r\n") != std::string::npos) {
        std::printf("ERROR: a header cannot be named after a path that holds a line break\n");
        return 0;
    }
    const DerivedNames names = derive_names(input_path);
    OutputFile output;
    if (!open_output(names.output_file, output)) {
        std::printf("ERROR: error opening file: %s\n", names.output_file.c_str());
        return 0;
    }
    std::printf("Output File: %s\n", names.output_file.c_str());

    const bool written = write_text(output, preamble(input_path, names, pixels), pixels, magic_pink);
    if (!finish_output(output, written)) {
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
