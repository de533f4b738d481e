#include "core/MoneyText.h"

#include "core/DateTime.h"
#include "support/TextCases.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace ostrel {
namespace {

using testing::Inf;
using testing::NaN;

TEST(MoneyText, MoneyFormat)
{
    const testing::FormatCase cases[] = {
        {1234.567, "1234,60"},
        {2.5, "2,50"},
        {150, "150,00"},
        {180, "180,00"},
        {0, "0,00"},
        {123.456, "123,46"},
        {12'345.678, "12346,00"},
        {9999.99, "10000,00"}, // five significant digits first, then the form
        {99'994.9, "99995,00"},
        {99'999.4, "99999,00"},
        {99'999.5, "1E5"},
        {100'000, "1E5"},
        {123'456.78, "1,2346E5"},
        {1'200'000, "1,2E6"},
        {1e20, "1E20"},
        {DBL_MAX, "1,7977E308"},
        {-2.5, "-2,50"},
        {-123'456.78, "-1,2346E5"},
        {0.1 + 0.2, "0,30"},
        // Rounding works once, on the amount the double stands for (its shortest decimal text),
        // and ties go away from zero whether the double lies a little above (0.005, 99.995) or
        // below (2.675, 1.005, 0.015, 99999.995) the amount, or on it (0.125, 1234.25).
        {0.125, "0,13"},
        {-0.125, "-0,13"},
        {1234.25, "1234,30"},
        {-1234.25, "-1234,30"},
        {0.005, "0,01"},
        {-0.005, "-0,01"},
        {2.675, "2,68"},
        {1.005, "1,01"},
        {0.015, "0,02"},
        {0.995, "1,00"},
        {99.995, "100,00"},
        {12'344.5, "12345,00"},
        {99'999.995, "1E5"},
        {-99'999.995, "-1E5"},
        {99'999.49, "99999,00"},
        {1'234'450, "1,2345E6"}, // a tie at the fifth significant digit of the exponent form
        {123'455, "1,2346E5"},
        {2.5e25, "2,5E25"},
        {0.0025, "0,00"},
        {0.004, "0,00"},
        {-0.001, "0,00"}, // no "-0,00"
        {-0.0, "0,00"},
        {5e-324, "0,00"},
    };
    testing::expectFormats(formatMoney, cases);
    EXPECT_FALSE(formatMoney(NaN));
    EXPECT_FALSE(formatMoney(Inf));
    EXPECT_FALSE(formatMoney(-Inf));
}

TEST(MoneyText, EveryHalfCentRoundsAwayFromZero)
{
    // 0,005 to 999,995: whether the double lies a little above or below the amount, the amount is
    // a tie and goes to the next cent away from zero.
    for (int mills = 5; mills < 1'000'000; mills += 10) {
        const int cents = (mills + 5) / 10;
        const int hundredths = cents % 100;
        const std::string text =
            std::to_string(cents / 100) + (hundredths < 10 ? ",0" : ",") + std::to_string(hundredths);
        ASSERT_EQ(formatMoney(mills / 1000.0), text) << mills;
        ASSERT_EQ(formatMoney(-mills / 1000.0), "-" + text) << mills;
    }
}

TEST(MoneyText, MoneyParse)
{
    const testing::ParseCase<double> cases[] = {
        {"180,00", 180},
        {"-2,5", -2.5},
        {"1,2346E5", 123'460},
        {"1E5", 100'000},
        {"-1,2346E5", -123'460},
        {" 2,50 ", 2.5},
        {"+5", 5},
        {"5,", 5},
        {",5", 0.5},
        {"-0", 0},
        {"1,23456", 1.2346}, // four decimals survive
        {"0,00005", 0.0001},
        {"0,00004", 0},
        {"1E-99999", 0},
        {"0E99999", 0},
        {"922337203685477,5807", 922'337'203'685'477.5807},
        {"-922337203685477,5808", -922'337'203'685'477.5808},
        {"1E14", 1e14},
    };
    testing::expectParses(parseMoney, cases);
    testing::expectRefuses(parseMoney, {"922337203685477,5808", "1E15", "1E99999999999", "", "   ", "-", ",", "abc",
                                        "1.5", "1,2,3", "1 000", "1E", "E5", "1E5x", "1E+", "--1", "NaN", "inf"});
}

TEST(MoneyText, MoneyReadsBackWhatItWrites)
{
    // Every amount in cents up to 999,99 has at most five significant digits and comes back exactly.
    for (int cents = -99'999; cents <= 99'999; ++cents) {
        const double value = cents / 100.0;
        const auto text = formatMoney(value);
        ASSERT_TRUE(text);
        ASSERT_EQ(parseMoney(*text), value) << *text;
    }
    for (const double value : {123'456.78, 1e14, 99'999.5, -5e13}) {
        const auto text = formatMoney(value);
        ASSERT_TRUE(text);
        const auto back = parseMoney(*text);
        ASSERT_TRUE(back) << *text;
        EXPECT_EQ(formatMoney(*back), text);
    }
}

TEST(MoneyText, Decimal)
{
    const testing::ParseCase<double> cases[] = {
        {"1,5", 1.5}, {"10", 10}, {"-2,25", -2.25}, {" 3 ", 3}, {",5", 0.5}, {"5,", 5}, {"+1", 1},
    };
    testing::expectParses(parseDecimal, cases);
    testing::expectRefuses(parseDecimal, {"1.5", "1,5E2", "", ",", "-", "inf", "nan", "1,2,3", "1 5", "0x10"});
    EXPECT_FALSE(parseDecimal(std::string(400, '9'))); // beyond a double
}

TEST(MoneyText, KopecksAreWrittenAndReadToTheKopeck)
{
    struct Case
    {
        const char* text;
        bool signedText;
        std::optional<std::int64_t> kopecks;
    };
    const Case cases[] = {
        {"1234,50", false, 123'450},
        {"1234.5", false, 123'450},
        {"1234", false, 123'400},
        {" 0,07 ", false, 7},
        {"12345678,99", false, 1'234'567'899},
        {"-0,50", true, -50},
        {"-0,50", false, std::nullopt},
        {"1234,567", false, std::nullopt},
        {"12,3,4", false, std::nullopt},
        {"", false, std::nullopt},
        {",50", false, std::nullopt},
        {"1 234", false, std::nullopt},
        {"12a", false, std::nullopt},
        {"1234567890123", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseKopecks(c.text, c.signedText), c.kopecks);
    }
    EXPECT_EQ(formatKopecks(123'450), "1234,50");
    EXPECT_EQ(formatKopecks(-5), "-0,05");
    EXPECT_EQ(formatKopecks(12'345'678), "123456,78"); // no rounding to five digits
    EXPECT_EQ(toKopecks(0.1 + 0.2), 30);
    EXPECT_EQ(toKopecks(12'345.675), 1'234'568);
    EXPECT_EQ(toKopecks(std::numeric_limits<double>::infinity()), std::nullopt);
}

} // namespace
} // namespace ostrel
