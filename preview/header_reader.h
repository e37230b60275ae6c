// Reading a generated header back, by its structure (CR LF or LF line ends):
//
//   #define <macro prefix>_WIDTH   (<width>)
//   #define <macro prefix>_HEIGHT  (<height>)
//   #define <macro prefix>_SIZE   (<width x height>)
//   const unsigned long <array prefix>_Bitmap[<height>*<width>]={
//   0xHHHHHHHH, 0xHHHHHHHH, ...   (at most 8 words a line)
//   };
//
// The prefixes come from the converted bitmap's whole path, so they may hold
// spaces, dots, slashes, backslashes and any other letters: a macro line is
// recognised by how it ends, never by splitting it at a space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pixmar {

struct ParsedHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::string macro_prefix;
    std::vector<std::uint32_t> words;  // top row first, width / 2 words a row
};

enum class HeaderProblem {
    none,
    empty,             // no text at all
    bad_macros,        // a macro missing, repeated, unreadable, or the three disagree
    no_array_line,     // no "const unsigned long ...]={" line after the macros
    malformed_word,    // a line inside the array that is not words
    array_not_closed,  // the array line is there, but no "};" after it
    wrong_word_count,  // the array holds other than width x height / 2 words
};

// Parses `text`. On a problem, `detail` says what and, where a line is to
// blame, which (for example "line 12: malformed word \"0x12G45678,\"").
HeaderProblem parse_header(const std::string& text, ParsedHeader& header, std::string& detail);

}  // namespace pixmar
