#include "header_writer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "memory.h"
#include "output_file.h"
#include "platform.h"
#include "word_line.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace pixmar {

namespace {

// Text is built in blocks and written a block at a time, so memory stays
// flat however large the image is.
constexpr std::size_t kOutputBlock = std::size_t(1) << 20;

// How a thread waits for its turn: a few microseconds of pausing, then up
// to about a millisecond of yielding, then sleep.
constexpr int kPauses = 100;
constexpr int kYields = 2000;

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

// The words of one header, in lines of up to kPixelsPerLine pixels, top
// row first. Every line but a row's last holds kPixelsPerLine pixels, so
// where any line begins is known without formatting those before it.
struct WordLines {
    PixelBuffer& pixels;
    bool magic_pink;
    WordLineFormatter format_word_line;
    std::uint32_t lines_per_row;
    std::uint64_t count;
    std::uint64_t blocks;
};

// Every block holds this many lines (the last one fewer), so a block can be
// formatted knowing only its number.
constexpr std::uint64_t kLinesPerBlock = kOutputBlock / kMaxWordLineBytes;

WordLines word_lines(PixelBuffer& pixels, bool magic_pink)
{
    const std::uint32_t lines_per_row = pixels.width / kPixelsPerLine + (pixels.width % kPixelsPerLine != 0);
    const std::uint64_t count = std::uint64_t(lines_per_row) * pixels.height;
    return {pixels, magic_pink, word_line_formatter(), lines_per_row, count, (count + kLinesPerBlock - 1) / kLinesPerBlock};
}

// Formats block number `block` into `out`; returns the end of its text.
char* format_block(const WordLines& lines, std::uint64_t block, char* out)
{
    const std::uint64_t first = block * kLinesPerBlock;
    const std::uint64_t end = std::min(first + kLinesPerBlock, lines.count);
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

// Tells the processor this thread is only waiting, so a spin costs less.
inline void pause_briefly()
{
#if defined(__x86_64__) || defined(_M_X64)
    _mm_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

// Where the writing stands, shared by the threads that write blocks in turn.
struct Turn {
    std::FILE* out;
    bool write_out_early;  // start each block's way to disk once it is written
    std::uint64_t offset;  // where block `next` begins in the file; only its writer touches it
    std::atomic<std::uint64_t> claimed{0};  // blocks taken by a thread to format and write
    std::atomic<std::uint64_t> next{0};     // the block to be written next
    std::atomic<bool> failed{false};
};

// Waits until block `block` may be written; false once a write has failed.
// The other thread is writing the block before, which takes well under a
// millisecond, while a thread put to sleep can take a sizeable part of one
// to wake on some machines: so it sleeps only after a millisecond or so. It
// yields rather than spins once it has paused a little, so that when both
// threads share one processor the other one runs instead.
bool wait_for_turn(Turn& turn, std::uint64_t block)
{
    for (int round = 0;; ++round) {
        const std::uint64_t next = turn.next.load(std::memory_order_acquire);
        if (turn.failed.load(std::memory_order_acquire))
            return false;
        if (next == block)
            return true;
        if (round < kPauses)
            pause_briefly();
        else if (round < kPauses + kYields)
            std::this_thread::yield();
        else
            turn.next.wait(next, std::memory_order_acquire);
    }
}

// Takes the next block nobody has taken, formats it, and writes it in its
// turn, until no block is left. With two threads, each writes the text it
// formatted itself, still in its own cache, and formats its next block while
// the other one writes; a thread that starts late, or is held up, simply
// takes fewer blocks.
void write_blocks(const WordLines& lines, char* block, Turn& turn)
{
    for (;;) {
        const std::uint64_t k = turn.claimed.fetch_add(1, std::memory_order_relaxed);
        if (k >= lines.blocks)
            return;
        char* const end = format_block(lines, k, block);
        if (!wait_for_turn(turn, k))
            return;
        const std::uint64_t offset = turn.offset;
        const bool written = write_block(turn.out, block, end);
        turn.offset = offset + std::uint64_t(end - block);
        if (!written)
            turn.failed.store(true, std::memory_order_release);
        turn.next.store(k + 1, std::memory_order_release);
        turn.next.notify_all();
        if (written && turn.write_out_early)
            start_writing_out(turn.out, offset, std::uint64_t(end - block));
    }
}

// Writes the words, the text from `offset` on. On a processor with two or
// more cores, a second thread formats and writes blocks too.
bool write_words(std::FILE* out, std::uint64_t offset, PixelBuffer& pixels, bool magic_pink, bool write_out_early)
{
    const WordLines lines = word_lines(pixels, magic_pink);
    const bool two_threads = lines.blocks > 1 && std::thread::hardware_concurrency() > 1;
    const MemoryBlock memory(allocate_block(two_threads ? 2 * kOutputBlock : kOutputBlock));
    if (!memory)
        return false;
    char* const block = reinterpret_cast<char*>(memory.get());
    Turn turn{out, write_out_early, offset};
    std::thread helper;
    if (two_threads) {
        try {
            helper = std::thread(write_blocks, std::cref(lines), block + kOutputBlock, std::ref(turn));
        } catch (const std::system_error&) {
            // No thread to be had: this one writes every block.
        }
    }
    write_blocks(lines, block, turn);
    if (helper.joinable())
        helper.join();
    return !turn.failed.load();
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

    // Only a replacing rename writes the file out, so only then do the blocks
    // start on their way to disk early (see start_writing_out).
    const std::string opening = preamble(input_path, names, pixels);
    const bool written = write_text(output.stream(), opening) &&
                         write_words(output.stream(), opening.size(), pixels, magic_pink, output.replaces_older()) &&
                         write_text(output.stream(), "};\r\n/* END OF FILE */\r\n");
    if (!finish_output(output, written)) {
        std::printf("ERROR: error writing file: %s\n", names.output_file.c_str());
        return 0;
    }
    return 1;
}

}  // namespace pixmar
