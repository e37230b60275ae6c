#include "header_writer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "output_file.h"
#include "platform.h"
#include "word_line.h"

namespace pixmar {

namespace {

// Text is built in this buffer and written in blocks of about its size, so
// memory stays flat however large the image is.
constexpr std::size_t kOutputBlock = std::size_t(1) << 20;

bool write_preamble(std::FILE* out, const std::string& path, const DerivedNames& names,
                    const PixelBuffer& pixels)
{
    // 64-bit: the height of a top-down bitmap may be 2^31, which no int holds.
    const long long width = pixels.width;
    const long long height = pixels.height;
    const char* macro = names.macro_prefix.c_str();
    return std::fprintf(out, "/*\r\n * File  : %s\r\n * Width : %lld\r\n * Height: %lld\r\n*/\r\n", path.c_str(),
                        width, height) >= 0 &&
           std::fprintf(out, "#define %s_WIDTH   (%lld)\r\n", macro, width) >= 0 &&
           std::fprintf(out, "#define %s_HEIGHT  (%lld)\r\n", macro, height) >= 0 &&
           std::fprintf(out, "#define %s_SIZE   (%lld)\r\n\r\n", macro, height * width) >= 0 &&
           std::fprintf(out, "const unsigned long %s_Bitmap[%lld*%lld]={\r\n", names.array_prefix.c_str(), height,
                        width) >= 0;
}

bool write_block(std::FILE* out, const char* begin, const char* end)
{
    const std::size_t size = std::size_t(end - begin);
    return std::fwrite(begin, 1, size, out) == size;
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
    const DerivedNames names = derive_names(input_path);
    OutputFile output;
    if (!open_output(names.output_file, output)) {
        std::printf("ERROR: error opening file: %s\n", names.output_file.c_str());
        return 0;
    }
    std::printf("Output File: %s\n", names.output_file.c_str());

    const bool written = write_preamble(output.stream, input_path, names, pixels) &&
                         write_words(output.stream, pixels, magic_pink) &&
                         std::fputs("};\r\n/* END OF FILE */\r\n", output.stream) >= 0;
    if (!finish_output(output, written)) {
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
