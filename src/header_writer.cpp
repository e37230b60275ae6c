#include "header_writer.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "output_file.h"
#include "platform.h"
#include "word_line.h"

namespace pixmar {

namespace {

// Text is built in this buffer and written in blocks of about its size, so
// memory stays flat however large the image is.
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

bool write_block(std::FILE* out, const char* begin, const char* end)
{
    const std::size_t size = std::size_t(end - begin);
    return std::fwrite(begin, 1, size, out) == size;
}

bool write_text(std::FILE* out, const std::string& text)
{
    return write_block(out, text.data(), text.data() + text.size());
}

bool write_words(std::FILE* out, PixelBuffer& pixels, bool magic_pink)
{
    const MemoryBlock memory(allocate_block(kOutputBlock));
    if (!memory)
        return false;
    char* const block = reinterpret_cast<char*>(memory.get());
    char* const block_end = block + kOutputBlock - kMaxWordLineBytes;
    char* cursor = block;
    const WordLineFormatter format_word_line = word_line_formatter();

    const std::size_t row_bytes = std::size_t(pixels.width) * 3;
    // Row 0 is the bottom of the picture, so the last row comes first.
    for (std::uint32_t row = pixels.height; row-- > 0;) {
        std::uint8_t* pixel = pixels.bytes.get() + row * row_bytes;
        for (std::uint32_t column = 0; column < pixels.width; column += kPixelsPerLine) {
            if (cursor > block_end) {
                if (!write_block(out, block, cursor))
                    return false;
                cursor = block;
            }
            const std::uint32_t pairs = std::min(pixels.width - column, kPixelsPerLine) / 2;
            cursor = format_word_line(pixel + std::size_t(column) * 3, pairs, magic_pink, cursor);
        }
    }
    return write_block(out, block, cursor);
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

    const bool written = write_text(output.stream, preamble(input_path, names, pixels)) &&
                         write_words(output.stream, pixels, magic_pink) &&
                         write_text(output.stream, "};\r\n/* END OF FILE */\r\n");
    if (!finish_output(output, written)) {
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
