#include "core/ShortString.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace ostrel {
namespace {

TEST(ShortString, WritesCutsAndZeroFills)
{
    struct Case
    {
        std::string text;
        std::uint8_t length;
    };
    const Case cases[] = {{"", 0}, {"Ok", 2}, {"Reset", 5}, {"12345", 5}, {"123456789", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::array<std::uint8_t, 6> field;
        field.fill(0xEE);
        writeShortString(field, c.text);
        EXPECT_EQ(field[0], c.length);
        for (std::size_t i = 1; i < field.size(); ++i)
            EXPECT_EQ(field[i], i <= c.length ? static_cast<std::uint8_t>(c.text[i - 1]) : 0) << i;
        EXPECT_EQ(readShortString(field), c.text.substr(0, 5));
    }
}

TEST(ShortString, ReadingNeverPassesTheField)
{
    const std::array<std::uint8_t, 4> damaged = {200, 'a', 'b', 'c'};
    EXPECT_EQ(readShortString(damaged), "abc");
    const std::array<std::uint8_t, 4> shorter = {1, 'a', 'b', 'c'};
    EXPECT_EQ(readShortString(shorter), "a");
    EXPECT_EQ(readShortString({}), "");
    writeShortString({}, "ignored"); // an empty field takes nothing, and must not crash

    // A length byte cannot count past 255 even in a larger field.
    std::vector<std::uint8_t> big(400, 0);
    writeShortString(big, std::string(300, 'x'));
    EXPECT_EQ(big[0], 255);
    EXPECT_EQ(big[256], 0);
    EXPECT_EQ(readShortString(big), std::string(255, 'x'));
}

TEST(ShortString, KeepsCodePageBytes)
{
    std::array<std::uint8_t, 41> field{};
    const std::string status = "\xCE\xE6\xE8\xE4\xE0\xED\xE8\xE5\x20\x43\xD7";
    writeShortString(field, status);
    EXPECT_EQ(readShortString(field), status);
}

} // namespace
} // namespace ostrel
