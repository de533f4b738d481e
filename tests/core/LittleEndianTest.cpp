#include "core/LittleEndian.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace ostrel {
namespace {

TEST(LittleEndian, FieldsRoundTripLowByteFirst)
{
    struct Case
    {
        double value;
        std::array<std::uint8_t, 8> bytes;
    };
    const Case cases[] = {
        {0.0, {0, 0, 0, 0, 0, 0, 0, 0}},
        {1.0, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {-2.5, {0, 0, 0, 0, 0, 0, 0x04, 0xC0}},
        {46'000.5, {0, 0, 0, 0, 0x10, 0x76, 0xE6, 0x40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::array<std::uint8_t, 10> record{};
        writeLe(record, 1, c.value);
        EXPECT_EQ(record[0], 0);
        EXPECT_EQ(record[9], 0);
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), record.begin() + 1));
        EXPECT_EQ(readLe<double>(record, 1), c.value);
    }
    std::array<std::uint8_t, 4> word{};
    writeLe(word, 0, std::int32_t{-2});
    EXPECT_EQ(word, (std::array<std::uint8_t, 4>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(readLe<std::int32_t>(word, 0), -2);
    EXPECT_EQ(readLe<std::uint32_t>(std::array<std::uint8_t, 4>{0x01, 0x02, 0x03, 0x04}, 0), 0x04030201u);
    std::array<std::uint8_t, 8> nan{};
    writeLe(nan, 0, std::nan(""));
    EXPECT_TRUE(std::isnan(readLe<double>(nan, 0)));
}

TEST(LittleEndian, FieldOutsideTheBytesThrowsAndWritesNothing)
{
    struct Case
    {
        std::size_t size;
        std::size_t offset;
    };
    const Case cases[] = {{8, 1}, {7, 0}, {0, 0}, {8, 9}, {8, SIZE_MAX}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << "@" << c.offset);
        std::vector<std::uint8_t> bytes(c.size, 0xEE);
        EXPECT_THROW(readLe<double>(bytes, c.offset), std::out_of_range);
        EXPECT_THROW(writeLe(bytes, c.offset, 1.0), std::out_of_range);
        EXPECT_EQ(bytes, std::vector<std::uint8_t>(c.size, 0xEE));
    }
    std::vector<std::uint8_t> exact(12);
    EXPECT_NO_THROW(writeLe(exact, 4, 1.0));
    EXPECT_NO_THROW(writeLe(exact, 8, std::uint32_t{7}));
    EXPECT_EQ(readLe<std::uint32_t>(exact, 8), 7u);
}

} // namespace
} // namespace ostrel
