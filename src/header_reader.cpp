#include "header_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pixmar {

namespace {

// The line from `begin` to its end, without the line break.
std::string line_at(const std::string& text, std::size_t begin, std::size_t& next)
{
    std::size_t end = text.find('\n', begin);
    next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos)
        end = text.size();
    if (end > begin && text[end - 1] == '\r')
        --end;
    return text.substr(begin, end - begin);
}

bool ends_with(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// Reads "(<number>)" at the end of a #define line.
bool parse_macro_value(const std::string& line, std::int64_t& value)
{
    const std::size_t open = line.rfind('(');
    if (open == std::string::npos || !ends_with(line, ")") || open + 2 >= line.size())
        return false;
    std::size_t i = open + 1;
    const bool negative = line[i] == '-';
    if (negative)
        ++i;
    if (i >= line.size() - 1)
        return false;
    std::int64_t number = 0;
    for (; i < line.size() - 1; ++i) {
        if (line[i] < '0' || line[i] > '9' || number > (INT64_MAX - 9) / 10)
            return false;
        number = number * 10 + (line[i] - '0');
    }
    value = negative ? -number : number;
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Parses the words of one line, "0xHHHHHHHH, " each.
bool parse_word_line(const std::string& line, std::vector<std::uint32_t>& words, std::string& bad)
{
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        bool good = line.compare(i, 2, "0x") == 0 && i + 11 <= line.size() && line[i + 10] == ',';
        std::uint32_t word = 0;
        for (std::size_t d = 0; good && d < 8; ++d) {
            const int digit = hex_digit(line[i + 2 + d]);
            good = digit >= 0;
            word = word << 4 | std::uint32_t(digit < 0 ? 0 : digit);
        }
        if (!good) {
            bad = line.substr(start, line.find(' ', start) - start);
            return false;
        }
        words.push_back(word);
        i += 11;
    }
    return true;
}

}  // namespace

HeaderProblem parse_header(const std::string& text, ParsedHeader& header, std::string& detail)
{
    if (text.empty()) {
        detail = "the file is empty";
        return HeaderProblem::empty;
    }
    bool have_width = false, have_height = false, have_size = false;
    std::int64_t size = 0;
    std::size_t next = 0;
    std::size_t line_number = 0;
    std::string line;
    // The preamble: macros up to the array line.
    while (next < text.size()) {
        line = line_at(text, next, next);
        ++line_number;
        if (line.rfind("#define ", 0) == 0) {
            const std::string name = line.substr(8, line.find(' ', 8) - 8);
            std::int64_t* target = ends_with(name, "_WIDTH")    ? &header.width
                                   : ends_with(name, "_HEIGHT") ? &header.height
                                   : ends_with(name, "_SIZE")   ? &size
                                                                : nullptr;
            if (target && !parse_macro_value(line, *target)) {
                detail = "line " + std::to_string(line_number) + ": unreadable macro: " + line;
                return HeaderProblem::missing_macro;
            }
            have_width |= target == &header.width;
            have_height |= target == &header.height;
            have_size |= target == &size;
        } else if (line.rfind("const unsigned long ", 0) == 0 && ends_with(line, "]={")) {
            break;
        }
    }
    if (!have_width || !have_height || !have_size) {
        detail = std::string("no ") + (!have_width ? "_WIDTH" : !have_height ? "_HEIGHT" : "_SIZE") + " macro";
        return HeaderProblem::missing_macro;
    }
    if (header.width <= 0 || header.width % 2 != 0 || header.height < 0 || header.width > INT32_MAX ||
        header.height > INT32_MAX || size != header.width * header.height) {
        detail = "the macros disagree: width " + std::to_string(header.width) + ", height " +
                 std::to_string(header.height) + ", size " + std::to_string(size);
        return HeaderProblem::missing_macro;
    }
    if (next >= text.size() && !ends_with(line, "]={")) {
        detail = "no array line (const unsigned long ..._Bitmap[...]={)";
        return HeaderProblem::missing_array;
    }

    const std::uint64_t expected = std::uint64_t(header.width) / 2 * std::uint64_t(header.height);
    // Never reserve more than the text could hold: a word takes 12 bytes.
    header.words.reserve(std::size_t(std::min<std::uint64_t>(expected, text.size() / 12)));
    bool closed = false;
    while (next < text.size()) {
        line = line_at(text, next, next);
        ++line_number;
        if (line == "};") {
            closed = true;
            break;
        }
        std::string bad;
        if (!parse_word_line(line, header.words, bad)) {
            detail = "line " + std::to_string(line_number) + ": malformed word \"" + bad + "\"";
            return HeaderProblem::malformed_word;
        }
    }
    if (!closed) {
        detail = "the array is not closed with \"};\"";
        return HeaderProblem::malformed_word;
    }
    if (header.words.size() != expected) {
        detail = std::to_string(header.words.size()) + " words, but " + std::to_string(header.width) + " x " +
                 std::to_string(header.height) + " pixels need " + std::to_string(expected);
        return HeaderProblem::word_count;
    }
    return HeaderProblem::none;
}

}  // namespace pixmar
