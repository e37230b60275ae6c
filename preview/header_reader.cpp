#include "header_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>


namespace pixmar {

namespace {

// Walks the text a line at a time, without the line break, counting lines from 1.
struct LineCursor {
    const std::string& text;
    std::size_t next = 0;
    std::size_t number = 0;

    // The next line, viewed in the text; false after the last.
    bool read(std::string_view& line)
    {
        if (next >= text.size())
            return false;
        std::size_t end = text.find('\n', next);
        const std::size_t after = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > next && text[end - 1] == '\r')
            --end;
        line = std::string_view(text).substr(next, end - next);
        next = after;
        ++number;
        return true;
    }

    bool read(std::string& line)
    {
        std::string_view view;
        if (!read(view))
            return false;
        line.assign(view);
        return true;
    }
};

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool ends_with(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::string at_line(std::size_t number) { return "line " + std::to_string(number) + ": "; }

// Text from the header as a message shows it: whole when short, otherwise its
// start, cut at a character boundary and marked with its full length, so a
// huge junk token makes a one-line message, not megabytes.
std::string excerpt(const std::string& text)
{
    constexpr std::size_t kLongest = 40;
    if (text.size() <= kLongest)
        return text;
    std::size_t cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;  // not inside a UTF-8 sequence
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}

// The macros in the order pixmar writes them, each with the exact spacing
// between its name and its value.
struct MacroKind {
    const char* name;
    const char* ending;  // what stands between the prefix and "(value)"
};
constexpr std::array<MacroKind, 3> kMacros = {{{"_WIDTH", "_WIDTH   "}, {"_HEIGHT", "_HEIGHT  "}, {"_SIZE", "_SIZE   "}}};

struct MacroLine {
    bool seen = false;
    std::size_t line = 0;
    std::string prefix;
    std::int64_t value = 0;
};

// Reads "<digits>" or "-<digits>" into `value`, refusing what does not fit.
bool parse_number(const std::string& text, std::int64_t& value)
{
    std::size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    std::int64_t number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || number > (INT64_MAX - 9) / 10)
            return false;
        number = number * 10 + (text[i] - '0');
    }
    value = text[0] == '-' ? -number : number;
    return true;
}

// Which macro a "#define" line is, by its ending "<kind ending>(<value>)";
// -1 when it is none of the three. The value is the text after the last
// "(", so a prefix may hold parentheses of its own.
int macro_kind_of(const std::string& line, std::size_t& open)
{
    open = line.rfind('(');
    if (open == std::string::npos || !ends_with(line, ")"))
        return -1;
    const std::string before = line.substr(0, open);
    for (std::size_t kind = 0; kind < kMacros.size(); ++kind) {
        if (ends_with(before, kMacros[kind].ending) && before.size() >= 8 + std::strlen(kMacros[kind].ending))
            return int(kind);
    }
    return -1;
}

// The value of each hexadecimal digit, either case; -1 for any other byte.
constexpr std::array<std::int8_t, 256> kHexDigits = [] {
    std::array<std::int8_t, 256> digits{};
    for (int c = 0; c < 256; ++c)
        digits[std::size_t(c)] = std::int8_t(c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
    return digits;
}();

// Parses the words of one line, "0xHHHHHHHH, " each. A header holds millions
// of them, so each digit is a table look-up.
bool parse_word_line(std::string_view line, std::vector<std::uint32_t>& words, std::string& bad)
{
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        bool good = i + 11 <= line.size() && line[i] == '0' && line[i + 1] == 'x' && line[i + 10] == ',';
        std::uint32_t word = 0;
        for (std::size_t d = 0; good && d < 8; ++d) {
            const int digit = kHexDigits[static_cast<unsigned char>(line[i + 2 + d])];
            good = digit >= 0;
            word = word << 4 | std::uint32_t(digit < 0 ? 0 : digit);
        }
        if (!good) {
            bad = std::string(line.substr(i, line.find(' ', i) - i));
            return false;
        }
        words.push_back(word);
        i += 11;
    }
    return true;
}

// The preamble: the three macros, up to the array line. Sets `array_line`
// to that line's number, or 0 when there is none.
HeaderProblem read_preamble(LineCursor& lines, ParsedHeader& header, std::size_t& array_line, std::string& detail)
{
    std::array<MacroLine, 3> macros;
    std::string line;
    array_line = 0;
    while (array_line == 0 && lines.read(line)) {
        if (starts_with(line, "const unsigned long ") && ends_with(line, "]={")) {
            array_line = lines.number;
            break;
        }
        std::size_t open = 0;
        const int kind = starts_with(line, "#define ") ? macro_kind_of(line, open) : -1;
        if (kind < 0)
            continue;
        MacroLine& macro = macros[std::size_t(kind)];
        if (macro.seen) {
            detail = at_line(lines.number) + "a second " + kMacros[std::size_t(kind)].name + " macro";
            return HeaderProblem::bad_macros;
        }
        if (!parse_number(line.substr(open + 1, line.size() - open - 2), macro.value)) {
            detail = at_line(lines.number) + "unreadable macro: " + excerpt(line);
            return HeaderProblem::bad_macros;
        }
        macro.seen = true;
        macro.line = lines.number;
        macro.prefix = line.substr(8, open - 8 - std::strlen(kMacros[std::size_t(kind)].ending));
    }

    for (std::size_t kind = 0; kind < kMacros.size(); ++kind) {
        if (!macros[kind].seen) {
            detail = std::string("no ") + kMacros[kind].name + " macro";
            return HeaderProblem::bad_macros;
        }
    }
    for (std::size_t kind = 1; kind < kMacros.size(); ++kind) {
        if (macros[kind].prefix != macros[0].prefix) {
            detail = at_line(macros[kind].line) + "the macros name two images: \"" + excerpt(macros[0].prefix) +
                     "\" and \"" + excerpt(macros[kind].prefix) + "\"";
            return HeaderProblem::bad_macros;
        }
    }
    header.macro_prefix = macros[0].prefix;
    header.width = macros[0].value;
    header.height = macros[1].value;
    const std::int64_t size = macros[2].value;
    if (header.width <= 0 || header.width % 2 != 0 || header.height < 0 || header.width > INT32_MAX ||
        header.height > INT32_MAX || size != header.width * header.height) {
        detail = "the macros disagree: width " + std::to_string(header.width) + ", height " +
                 std::to_string(header.height) + ", size " + std::to_string(size);
        return HeaderProblem::bad_macros;
    }
    if (array_line == 0) {
        detail = "no array line (const unsigned long ..._Bitmap[...]={) in its " + std::to_string(lines.number) +
                 " lines";
        return HeaderProblem::no_array_line;
    }
    return HeaderProblem::none;
}

}  // namespace

HeaderProblem parse_header(const std::string& text, ParsedHeader& header, std::string& detail)
{
    if (text.empty()) {
        detail = "the file is empty";
        return HeaderProblem::empty;
    }
    LineCursor lines{text};
    std::size_t array_line = 0;
    const HeaderProblem preamble = read_preamble(lines, header, array_line, detail);
    if (preamble != HeaderProblem::none)
        return preamble;

    const std::uint64_t expected = std::uint64_t(header.width) / 2 * std::uint64_t(header.height);
    // Never reserve more than the text could hold: a word takes 12 bytes.
    header.words.reserve(std::size_t(std::min<std::uint64_t>(expected, text.size() / 12)));
    std::string_view line;
    while (lines.read(line)) {
        if (line == "};") {
            if (header.words.size() != expected) {
                detail = at_line(lines.number) + std::to_string(header.words.size()) + " words, but " +
                         std::to_string(header.width) + " x " + std::to_string(header.height) + " pixels need " +
                         std::to_string(expected);
                return HeaderProblem::wrong_word_count;
            }
            return HeaderProblem::none;
        }
        std::string bad;
        if (!parse_word_line(line, header.words, bad)) {
            detail = at_line(lines.number) + "malformed word \"" + excerpt(bad) + "\"";
            return HeaderProblem::malformed_word;
        }
    }
    detail = at_line(array_line) + "the array is not closed with \"};\"";
    return HeaderProblem::array_not_closed;
}

}  // namespace pixmar
