#include "header_writer.h"

#include <algorithm>
#include <string>

#include "memory.h"
#include "message_text.h"
#include "word_line.h"

namespace pixmar {

namespace {

// Text is built in blocks and written a block at a time, so memory stays
// flat however large the image is.
constexpr std::size_t kOutputBlock = std::size_t(1) << 20;

// The comment, the macros and the array line, as one piece of text.
std::string preamble(const std::string& path, const DerivedNames& names, std::uint32_t pixels_wide, std::uint32_t pixels_high)
{
    // 64-bit: the height of a top-down bitmap may be 2^31, which no int holds.
    const long long width = pixels_wide;
    const long long height = pixels_high;
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string& macro = names.macro_prefix;
    return "/*\r\n * File  : " + path + "\r\n * Width : " + w + "\r\n * Height: " + h + "\r\n*/\r\n" +
           "#define " + macro + "_WIDTH   (" + w + ")\r\n" +
           "#define " + macro + "_HEIGHT  (" + h + ")\r\n" +
           "#define " + macro + "_SIZE   (" + std::to_string(height * width) + ")\r\n\r\n" +
           "const unsigned long " + names.array_prefix + "_Bitmap[" + h + "*" + w + "]={\r\n";
}

constexpr char kClosing[] = "};\r\n/* END OF FILE */\r\n";

// Letters, digits and underscores, not starting with a digit. Bytes of
// non-ASCII characters count as letters, as GCC and Clang take them in
// identifiers; an empty name is none.
bool is_c_name(const std::string& name)
{
    const auto letter = [](unsigned char c) { return c == '_' || c >= 0x80 || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); };
    const auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    return !name.empty() && letter(static_cast<unsigned char>(name[0])) &&
           std::all_of(name.begin(), name.end(), [&](unsigned char c) { return letter(c) || digit(c); });
}

std::uint32_t lines_per_row(std::uint32_t width) { return width / kPixelsPerLine + (width % kPixelsPerLine != 0); }

// The header's exact length, known before a word is formatted.
std::uint64_t header_bytes(const std::string& opening, std::uint32_t width, std::uint32_t height)
{
    const std::uint64_t row = std::uint64_t(width / 2) * 12 + std::uint64_t(lines_per_row(width)) * 2;
    return opening.size() + row * height + (sizeof kClosing - 1);
}

// Writes the header's text a block at a time: rows from the last stored one
// (the top of the picture) to the first, each in lines of up to
// kPixelsPerLine pixels. The first block starts with `opening` and the last
// ends with the closing lines, so that a small header is a single write.
// False when a write failed.
bool write_text(HeaderSink& header, const std::string& opening, PixelBuffer& pixels, bool magic_pink)
{
    const std::size_t capacity = opening.size() + kOutputBlock + sizeof kClosing;
    const MemoryBlock memory = allocate_memory_block(capacity);
    char* const block = reinterpret_cast<char*>(memory.get());
    char* const full = block + capacity - sizeof kClosing - kMaxWordLineBytes;
    const WordLineFormatter format_word_line = word_line_formatter();
    const std::size_t row_bytes = std::size_t(pixels.width) * 3;
    char* end = std::copy(opening.begin(), opening.end(), block);
    for (std::uint32_t row = pixels.height; row-- > 0;) {
        std::uint8_t* const stored = pixels.bytes.get() + std::size_t(row) * row_bytes;
        for (std::uint32_t column = 0; column < pixels.width; column += kPixelsPerLine) {
            if (end > full) {
                if (!header.write(header.context, block, std::size_t(end - block)))
                    return false;
                end = block;
            }
            const std::uint32_t pairs = std::min(pixels.width - column, kPixelsPerLine) / 2;
            end = format_word_line(stored + std::size_t(column) * 3, pairs, magic_pink, end);
        }
    }
    end = std::copy(kClosing, kClosing + sizeof kClosing - 1, end);
    return header.write(header.context, block, std::size_t(end - block));
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

std::uint64_t header_size(const std::string& input_path, std::uint32_t width, std::uint32_t height)
{
    return header_bytes(preamble(input_path, derive_names(input_path), width, height), width, height);
}

int write_header_file(const std::string& input_path, PixelBuffer& pixels, bool magic_pink, HeaderSink& header,
                      const MessageSink& messages)
{
    // The path stands in the header's comment and names its macros: a line
    // break would split those lines, and the header could not be read back.
    if (input_path.find_first_of("\r\n") != std::string::npos) {
        say(messages, "ERROR: a header cannot be named after a path that holds a line break\n");
        return 0;
    }
    const DerivedNames names = derive_names(input_path);
    const std::string opening = preamble(input_path, names, pixels.width, pixels.height);
    if (!header.create(header.context, names.output_file, header_bytes(opening, pixels.width, pixels.height))) {
        say(messages, message("ERROR: error opening file: %s\n", names.output_file));
        return 0;
    }
    say(messages, message("Output File: %s\n", names.output_file));
    // The header is still written as asked: only the build that includes it
    // would tell otherwise, long after the run.
    if (!is_c_name(names.macro_prefix) || !is_c_name(names.array_prefix))
        say(messages, message("Warning: %s_WIDTH and %s_Bitmap are not C names: run pixmar in the bitmap's folder, "
                              "on a file named with letters, digits and underscores\n",
                              names.macro_prefix, names.array_prefix));
    bool written = false;
    try {
        written = write_text(header, opening, pixels, magic_pink);
    } catch (...) {
        // Memory that runs out midway leaves nothing of the header either.
        header.finish(header.context, false);
        throw;
    }
    if (!header.finish(header.context, written)) {
        say(messages, message("ERROR: error writing file: %s\n", names.output_file));
        return 0;
    }
    return 1;
}

}  // namespace pixmar
