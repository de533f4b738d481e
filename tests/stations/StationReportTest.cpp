#include "stations/StationReport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

using Bytes = std::array<std::uint8_t, StationReportSize>;

Bytes sample()
{
    StationReport r;
    r.statusCode = 5;
    r.statusText = "Standard";
    r.start = 46364.25;
    r.finish = 46364.5;
    r.price = 1.5;
    r.allowance = 1.0 / 24;
    return encodeStationReport(r);
}

TEST(StationReportCodec, FieldsSitAtTheirOffsetsLittleEndian)
{
    const Bytes b = sample();
    EXPECT_EQ(b[0], 2);
    EXPECT_EQ(b[1], 'H');
    EXPECT_EQ(b[2], 'I');
    EXPECT_EQ(b[24], 5);
    EXPECT_EQ(b[25] | b[26] | b[27], 0);
    EXPECT_EQ(b[32], 8);
    EXPECT_EQ(std::string(b.begin() + 33, b.begin() + 41), "Standard");
    // 1.5 is 0x3FF8000000000000: only the two top bytes of the little-endian field are set.
    EXPECT_EQ(b[72 + 6], 0xF8);
    EXPECT_EQ(b[72 + 7], 0x3F);
    for (std::size_t i = 3; i < 24; ++i)
        EXPECT_EQ(b[i], 0) << i;

    const auto r = decodeStationReport(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->statusCode, 5);
    EXPECT_EQ(r->statusText, "Standard");
    EXPECT_EQ(r->start, 46364.25);
    EXPECT_EQ(r->finish, 46364.5);
    EXPECT_EQ(r->price, 1.5);
    EXPECT_EQ(r->allowance, 1.0 / 24);
}

TEST(StationReportCodec, SignatureTest)
{
    struct Case
    {
        std::vector<std::uint8_t> head;
        bool accepted;
    } cases[] = {
        {{0x02, 0x48, 0x49, 0xAA, 0x55}, true}, // bytes 3..23 play no part
        {{0x02, 0x68, 0x69}, false},            // "hi" is not "HI"
        {{0x03, 0x48, 0x49, 0x49}, false},      // four bytes compared against three
        {{0x00}, false},                        // one byte compared: 0 is not 2
        {{0x01, 0x48}, false},
        {{0xFF, 0x48, 0x49}, false},
    };
    for (const auto& c : cases) {
        Bytes b = sample();
        std::copy(c.head.begin(), c.head.end(), b.begin());
        EXPECT_EQ(decodeStationReport(b).has_value(), c.accepted) << int(c.head[0]);
        EXPECT_EQ(hasStationSignature(b), c.accepted);
    }
    EXPECT_FALSE(hasStationSignature({}));
    const std::uint8_t shortHead[] = {0x02, 0x48};
    EXPECT_FALSE(hasStationSignature(shortHead));
}

TEST(StationReportCodec, StatusTextLengthIsBoundedByItsField)
{
    Bytes b = sample();
    b[32] = 200; // runs past the field: cut to its 23 characters
    for (std::size_t i = 33; i < 56; ++i)
        b[i] = 'x';
    auto r = decodeStationReport(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->statusText, std::string(23, 'x'));

    b[32] = 0;
    r = decodeStationReport(b);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->statusText, "");

    StationReport longText;
    longText.statusText = std::string(30, 'y');
    b = encodeStationReport(longText);
    EXPECT_EQ(b[32], 23);
    EXPECT_EQ(b[56], 0); // the start field is untouched
}

TEST(StationReportCodec, ValuesAreTakenAsTheyCome)
{
    StationReport odd;
    odd.statusCode = -1;
    odd.start = std::numeric_limits<double>::quiet_NaN();
    odd.finish = -std::numeric_limits<double>::infinity();
    odd.statusText = "\xC8\xE3\xF0\xE0"; // Windows-1251 bytes pass unchanged
    const auto r = decodeStationReport(encodeStationReport(odd));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->statusCode, -1);
    EXPECT_TRUE(std::isnan(r->start));
    EXPECT_TRUE(std::isinf(r->finish));
    EXPECT_EQ(r->statusText, odd.statusText);
}

} // namespace
} // namespace ostrel
