#include "header_writer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "magic_pink.h"
#include "output_file.h"
#include "pixel_pair.h"
#include "platform.h"

namespace pixmar {

namespace {

// Text is built in this buffer and written in blocks of about its size, so
// memory stays flat however large the image is.
constexpr std::size_t kOutputBlock = std::size_t(1) << 20;

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

char* format_word_line(std::uint8_t* pixels, std::uint32_t pairs, bool magic_pink, char* out)
{
    for (std::uint32_t pair = 0; pair < pairs; ++pair, pixels += 6) {
        if (magic_pink)
            apply_magic_pink_rule(pixels, pixels + 3);
        out = format_word(encode_pixel_pair(pixels[2], pixels[1], pixels[0], pixels[5], pixels[4], pixels[3]), out);
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

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
