#include "header_writer.h"

#include <cinttypes>
#include <cstdio>

#include "magic_pink.h"
#include "pixel_pair.h"
#include "platform.h"

namespace pixmar {

namespace {

// A line of words holds at most this many pixels (8 words).
constexpr std::uint32_t kPixelsPerLine = 16;

bool write_preamble(std::FILE* out, const std::string& path, const DerivedNames& names,
                    const PixelBuffer& pixels)
{
    const int width = int(pixels.width);
    const int height = int(pixels.height);
    const std::int64_t size = std::int64_t(pixels.height) * pixels.width;
    return std::fprintf(out, "/*\r\n * File  : %s\r\n * Width : %d\r\n * Height: %d\r\n*/\r\n",
                        path.c_str(), width, height) >= 0 &&
           std::fprintf(out, "#define %s_WIDTH   (%d)\r\n", names.macro_prefix.c_str(), width) >= 0 &&
           std::fprintf(out, "#define %s_HEIGHT  (%d)\r\n", names.macro_prefix.c_str(), height) >= 0 &&
           std::fprintf(out, "#define %s_SIZE   (%" PRId64 ")\r\n\r\n", names.macro_prefix.c_str(), size) >= 0 &&
           std::fprintf(out, "const unsigned long %s_Bitmap[%d*%d]={\r\n", names.array_prefix.c_str(), height,
                        width) >= 0;
}

bool write_words(std::FILE* out, PixelBuffer& pixels, bool magic_pink)
{
    const std::uint64_t row_bytes = std::uint64_t(pixels.width) * 3;
    // Row 0 is the bottom of the picture, so the last row comes first.
    for (std::uint32_t row = pixels.height; row-- > 0;) {
        std::uint8_t* pixel = pixels.bytes.get() + row * row_bytes;
        for (std::uint32_t column = 0; column < pixels.width; column += 2, pixel += 6) {
            if (column > 0 && column % kPixelsPerLine == 0 && std::fputs("\r\n", out) < 0)
                return false;
            if (magic_pink)
                apply_magic_pink_rule(pixel, pixel + 3);
            const std::uint32_t word =
                encode_pixel_pair(pixel[2], pixel[1], pixel[0], pixel[5], pixel[4], pixel[3]);
            if (std::fprintf(out, "0x%08" PRIX32 ", ", word) < 0)
                return false;
        }
        if (std::fputs("\r\n", out) < 0)
            return false;
    }
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
    const DerivedNames names = derive_names(input_path);

    // A folder at the output name can never be replaced by a file.
    std::string temp_path;
    std::FILE* out = path_kind(names.output_file) == PathKind::directory
                         ? nullptr
                         : create_temporary_beside(names.output_file, temp_path);
    if (!out) {
        std::printf("ERROR: error opening file: %s\n", names.output_file.c_str());
        return 0;
    }
    std::printf("Output File: %s\n", names.output_file.c_str());

    bool written = write_preamble(out, input_path, names, pixels) && write_words(out, pixels, magic_pink) &&
                   std::fputs("};\r\n/* END OF FILE */\r\n", out) >= 0 && std::fflush(out) == 0;
    written = std::fclose(out) == 0 && written;
    // Only a complete file takes the output name; an older header stays until then.
    if (!written || !replace_file(temp_path, names.output_file)) {
        remove_file(temp_path);
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
