#pragma once

#include <charconv>
#include <string>
#include <string_view>

// Small scanners shared by the readers of the salon's texts.
namespace ostrel::textscan {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Drops a leading '-' or '+'; true for '-'.
inline bool takeSign(std::string_view& text)
{
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    return negative;
}

// Writes `value` with at least `minDigits` digits, zeros in front.
inline void appendNumber(std::string& out, int value, int minDigits)
{
    char buffer[16];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    const auto length = static_cast<int>(end - buffer);
    for (int i = length; i < minDigits; ++i)
        out += '0';
    out.append(buffer, end);
}

} // namespace ostrel::textscan
