// Message lines made from their formats: each format names its values as
// %d, %x or %s, so that the source shows every message as it is printed.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace pixmar {

// `format` with its one %d, %x or %s replaced by `value`.
inline std::string message(std::string_view format, std::string_view value)
{
    const std::size_t at = format.find('%');
    std::string line(format.substr(0, at));
    line += value;
    line += format.substr(at + 2);
    return line;
}

inline std::string message(std::string_view format, long long value) { return message(format, std::to_string(value)); }

// `format` with its two %s replaced by `first` and `second`, in that order;
// a % inside `first` stays as it is.
inline std::string message(std::string_view format, std::string_view first, std::string_view second)
{
    const std::size_t at = format.find('%');
    return std::string(format.substr(0, at)).append(first) + message(format.substr(at + 2), second);
}

// Lower-case hexadecimal without leading zeros, as %x prints it.
inline std::string hexadecimal(std::uint32_t value)
{
    char digits[8];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, value, 16).ptr);
}

}  // namespace pixmar
