// Reading a generated header back: its three macros, its array line and its
// words, with CR LF or LF line ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pixmar {

struct ParsedHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::uint32_t> words;  // top row first, width / 2 words a row
};

enum class HeaderProblem { none, empty, missing_macro, missing_array, malformed_word, word_count };

// Parses `text`. On a problem, `detail` says what and where (for example
// "line 12: 0x12G45678,"). Checks that the width is positive and even, that
// _SIZE is width x height, and that there are width x height / 2 words.
HeaderProblem parse_header(const std::string& text, ParsedHeader& header, std::string& detail);

}  // namespace pixmar
