#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::testing {

// The numbers that are not finite, for the cases that must refuse them.
inline constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double Inf = std::numeric_limits<double>::infinity();

// A text and what a parser makes of it; nullopt: the text is refused.
template <class Value> struct ParseCase
{
    const char* text;
    std::optional<Value> value;
};

// Every case's text through `parse`, each failure naming its text.
template <class Value, std::size_t N>
void expectParses(std::optional<Value> (*parse)(std::string_view), const ParseCase<Value> (&cases)[N])
{
    for (const ParseCase<Value>& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse(c.text), c.value);
    }
}

// Texts that `parse` must refuse, each failure naming its text.
template <class Value>
void expectRefuses(std::optional<Value> (*parse)(std::string_view), std::initializer_list<const char*> texts)
{
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse(text), std::nullopt);
    }
}

// A number and the text a formatter writes for it.
struct FormatCase
{
    double value;
    const char* text;
};

// Every case's number through `format`, each failure naming its number.
template <std::size_t N> void expectFormats(std::optional<std::string> (*format)(double), const FormatCase (&cases)[N])
{
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(format(c.value), std::optional<std::string>(c.text));
    }
}

} // namespace ostrel::testing
