#include "header_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "memory.h"
#include "output_file.h"
#include "word_line.h"

namespace pixmar {

namespace {

// Text is built in blocks of this size and written a block at a time, so
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

// Where the formatting of the words stands: the next line to format.
struct WordCursor {
    PixelBuffer& pixels;
    bool magic_pink;
    WordLineFormatter format_word_line;
    std::uint32_t rows_left;  // rows not yet begun or not yet finished
    std::uint32_t column = 0;

    bool done() const { return rows_left == 0 || pixels.width == 0; }
};

// Formats whole lines into the block from `begin` until it is nearly full or
// every word is formatted; returns the end of the text.
char* fill_block(WordCursor& at, char* begin)
{
    char* const last_start = begin + kOutputBlock - kMaxWordLineBytes;
    char* cursor = begin;
    const std::size_t row_bytes = std::size_t(at.pixels.width) * 3;
    while (!at.done() && cursor <= last_start) {
        // Row 0 is the bottom of the picture, so the last row comes first.
        std::uint8_t* const row = at.pixels.bytes.get() + std::size_t(at.rows_left - 1) * row_bytes;
        const std::uint32_t pairs = std::min(at.pixels.width - at.column, kPixelsPerLine) / 2;
        cursor = at.format_word_line(row + std::size_t(at.column) * 3, pairs, at.magic_pink, cursor);
        at.column += kPixelsPerLine;
        if (at.column >= at.pixels.width) {
            at.column = 0;
            --at.rows_left;
        }
    }
    return cursor;
}

// One block at a time: format it, write it.
bool write_words_in_turn(std::FILE* out, WordCursor& at, char* block)
{
    do {
        if (!write_block(out, block, fill_block(at, block)))
            return false;
    } while (!at.done());
    return true;
}

// Two blocks: a second thread formats one while this one writes the other, so
// formatting costs no time beside the writing. The bytes and their order are
// those of write_words_in_turn; only this thread writes.
bool write_words_overlapped(std::FILE* out, WordCursor& at, char* const blocks[2])
{
    std::mutex lock;
    std::condition_variable changed;
    bool full[2] = {false, false}, last[2] = {false, false}, stop = false;
    char* ends[2] = {blocks[0], blocks[1]};

    const auto format_blocks = [&] {
        for (int i = 0;; i ^= 1) {
            {
                std::unique_lock<std::mutex> held(lock);
                changed.wait(held, [&] { return !full[i] || stop; });
                if (stop)
                    return;
            }
            char* const end = fill_block(at, blocks[i]);
            const bool done = at.done();
            {
                const std::lock_guard<std::mutex> held(lock);
                ends[i] = end;
                last[i] = done;
                full[i] = true;
            }
            changed.notify_all();
            if (done)
                return;
        }
    };
    std::thread formatter;
    try {
        formatter = std::thread(format_blocks);
    } catch (const std::system_error&) {
        return write_words_in_turn(out, at, blocks[0]);  // no thread to be had: one block at a time
    }

    bool written = true;
    for (int i = 0;; i ^= 1) {
        {
            std::unique_lock<std::mutex> held(lock);
            changed.wait(held, [&] { return full[i]; });
        }
        written = write_block(out, blocks[i], ends[i]);
        const bool done = last[i];
        {
            const std::lock_guard<std::mutex> held(lock);
            full[i] = false;
            stop = !written;
        }
        changed.notify_all();
        if (done || !written)
            break;
    }
    formatter.join();
    return written;
}

bool write_words(std::FILE* out, PixelBuffer& pixels, bool magic_pink)
{
    WordCursor at{pixels, magic_pink, word_line_formatter(), pixels.height};
    // A header of one block gains nothing from a second thread.
    const std::uint64_t text_bytes = std::uint64_t(pixels.width) / 2 * pixels.height * 12;
    const bool overlapped = text_bytes > kOutputBlock;
    const MemoryBlock memory(allocate_block(overlapped ? 2 * kOutputBlock : kOutputBlock));
    if (!memory)
        return false;
    char* const first = reinterpret_cast<char*>(memory.get());
    if (!overlapped)
        return write_words_in_turn(out, at, first);
    char* const blocks[2] = {first, first + kOutputBlock};
    return write_words_overlapped(out, at, blocks);
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

    const bool written = write_text(output.stream(), preamble(input_path, names, pixels)) &&
                         write_words(output.stream(), pixels, magic_pink) &&
                         write_text(output.stream(), "};\r\n/* END OF FILE */\r\n");
    if (!finish_output(output, written)) {
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
