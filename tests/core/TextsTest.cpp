#include "core/Texts.h"

#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cfloat>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace ostrel {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(Texts, MoneyFormat)
{
    struct Case
    {
        double value;
        const char* text;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(formatMoney(c.value), std::optional<std::string>(c.text));
    }
    EXPECT_FALSE(formatMoney(NaN));
    EXPECT_FALSE(formatMoney(Inf));
    EXPECT_FALSE(formatMoney(-Inf));
}

TEST(Texts, EveryHalfCentRoundsAwayFromZero)
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

TEST(Texts, MoneyParse)
{
    struct Case
    {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
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
        {"922337203685477,5808", std::nullopt},
        {"1E15", std::nullopt},
        {"1E99999999999", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"-", std::nullopt},
        {",", std::nullopt},
        {"abc", std::nullopt},
        {"1.5", std::nullopt},
        {"1,2,3", std::nullopt},
        {"1 000", std::nullopt},
        {"1E", std::nullopt},
        {"E5", std::nullopt},
        {"1E5x", std::nullopt},
        {"1E+", std::nullopt},
        {"--1", std::nullopt},
        {"NaN", std::nullopt},
        {"inf", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseMoney(c.text), c.value);
    }
}

TEST(Texts, MoneyReadsBackWhatItWrites)
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

TEST(Texts, Decimal)
{
    struct Case
    {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"1,5", 1.5},
        {"10", 10},
        {"-2,25", -2.25},
        {" 3 ", 3},
        {",5", 0.5},
        {"5,", 5},
        {"+1", 1},
        {"1.5", std::nullopt},
        {"1,5E2", std::nullopt},
        {"", std::nullopt},
        {",", std::nullopt},
        {"-", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1,2,3", std::nullopt},
        {"1 5", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseDecimal(c.text), c.value);
    }
    EXPECT_FALSE(parseDecimal(std::string(400, '9'))); // beyond a double
}

TEST(Texts, TimeFormat)
{
    struct Case
    {
        double x;
        const char* text;
    };
    const Case cases[] = {
        {encodeTime(11, 30, 59) - encodeTime(10, 0, 0), "1:30:59"},
        {encodeTime(10, 0, 0), "10:00:00"},
        {encodeTime(0, 5, 0), "0:05:00"},
        {25.0 / 24, "1:00:00"},
        {encodeTime(1, 0, 0) - encodeTime(1, 10, 0), "0:10:00"},
        {encodeTime(0, 0, 59, 999), "0:00:59"}, // milliseconds are dropped, not rounded
        {encodeTime(0, 0, 59, 999) + 0.6 / 86'400'000, "0:01:00"},
        {45'292.75, "18:00:00"},
        {-1.25, "6:00:00"},
        {encodeTime(23, 59, 59), "23:59:59"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(formatTime(c.x), std::optional<std::string>(c.text));
    }
    for (const double x : {NaN, Inf, -Inf, 1e300})
        EXPECT_FALSE(formatTime(x)) << x;
}

TEST(Texts, TimeParse)
{
    struct Case
    {
        const char* text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"1:30:59", encodeTime(1, 30, 59)},
        {"10:00", encodeTime(10, 0, 0)},
        {" 9:05:03 ", encodeTime(9, 5, 3)},
        {"09:5:3", encodeTime(9, 5, 3)},
        {"23:59:59", encodeTime(23, 59, 59)},
        {"0:00:00", 0.0},
        {"24:00:00", std::nullopt},
        {"1:60:00", std::nullopt},
        {"1:00:60", std::nullopt},
        {"", std::nullopt},
        {"1", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {"a:00", std::nullopt},
        {"-1:00", std::nullopt},
        {"1::00", std::nullopt},
        {"100:00", std::nullopt},
        {"1:00:00 PM", std::nullopt},
        {"1,5:00", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseTime(c.text), c.value);
    }
}

TEST(Texts, EveryTimeOfDayReadsBack)
{
    for (int s = 0; s < 86'400; ++s) {
        const double x = encodeTime(s / 3600, s / 60 % 60, s % 60);
        const auto text = formatTime(x);
        ASSERT_TRUE(text);
        const auto back = parseTime(*text);
        ASSERT_TRUE(back) << *text;
        ASSERT_EQ(formatTime(*back), text);
        ASSERT_EQ(toMilliseconds(*back), toMilliseconds(x)) << *text;
    }
}

TEST(Texts, DateFormatAndParse)
{
    EXPECT_EQ(formatDate(36'526), "01.01.2000");
    EXPECT_EQ(formatDate(36'526.75), "01.01.2000");
    EXPECT_EQ(formatDate(MinDayNumber), "01.01.0001");
    EXPECT_EQ(formatDate(MaxDayNumber - 0.5), "31.12.9999");
    for (const double x : {NaN, Inf, -Inf, MaxDayNumber, MinDayNumber - 1, 1e300})
        EXPECT_FALSE(formatDate(x)) << x;

    struct Case
    {
        const char* text;
        std::optional<CivilDate> date;
    };
    const Case cases[] = {
        {"29.02.2000", CivilDate{2000, 2, 29}},
        {"01.03.2024", CivilDate{2024, 3, 1}},
        {"1.3.2024", CivilDate{2024, 3, 1}},
        {" 1. 3.2024", CivilDate{2024, 3, 1}}, // as a masked field leaves it
        {"01.01.0001", CivilDate{1, 1, 1}},
        {"15.05.0020", CivilDate{20, 5, 15}},
        {"15.05.20", std::nullopt}, // an unfinished year, not the year 20
        {"15.05.20  ", std::nullopt},
        {"15.05.202", std::nullopt},
        {"01.01.1", std::nullopt},
        {"31.12.9999", CivilDate{9999, 12, 31}},
        {"29.02.2100", std::nullopt},
        {"31.04.2024", std::nullopt},
        {"00.01.2024", std::nullopt},
        {"01.13.2024", std::nullopt},
        {"01.01.0000", std::nullopt},
        {"01.01.12345", std::nullopt},
        {"", std::nullopt},
        {"  .  .    ", std::nullopt},
        {"__.__.____", std::nullopt},
        {"01.01", std::nullopt},
        {"1.1.2024.5", std::nullopt},
        {"01-01-2024", std::nullopt},
        {"0 1.01.2024", std::nullopt},
        {"-1.01.2024", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseDate(c.text);
        EXPECT_EQ(parsed.has_value(), c.date.has_value());
        if (parsed && c.date) {
            EXPECT_EQ(decodeDate(*parsed), c.date);
        }
    }
}

TEST(Texts, DatesReadBackOverTheWholeRange)
{
    for (double d = MinDayNumber; d < MaxDayNumber; d += 97) {
        const auto text = formatDate(d);
        ASSERT_TRUE(text);
        ASSERT_EQ(parseDate(*text), d) << *text;
    }
}

TEST(Texts, DateTime)
{
    struct Case
    {
        double x;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {36'526, "01.01.2000"},
        {36'526.5, "01.01.2000 12:00:00"},
        {36'526 + encodeTime(0, 0, 0, 400), "01.01.2000"}, // only h, m and s count
        {36'526 + encodeTime(9, 5, 7), "01.01.2000 9:05:07"},
        {36'526.999'999'999, "02.01.2000"}, // rounds to the next midnight, date and all
        {-1.25, "29.12.1899 6:00:00"},
        {MaxDayNumber - 2e-9, std::nullopt}, // rounds into the year 10000
        {NaN, std::nullopt},
        {Inf, std::nullopt},
        {-1e300, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(formatDateTime(c.x), c.text);
    }
}

TEST(Texts, WholeNumber)
{
    struct Case
    {
        const char* text;
        std::optional<int> value;
    };
    const Case cases[] = {
        {"1", 1},
        {" 42 ", 42},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {"2147483647", 2'147'483'647},
        {"-2147483648", std::numeric_limits<int>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"ERROR", std::nullopt},
        {"yes", std::nullopt},
        {"1.0", std::nullopt},
        {"1,0", std::nullopt},
        {"1 2", std::nullopt},
        {"-", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseWholeNumber(c.text), c.value);
    }
}

TEST(Texts, PowerCutAlertAgreesWithItsNumber)
{
    const std::pair<int, const char*> cases[] = {
        {1, "Отключился сразу 1 компьютер"},      {3, "Отключились сразу 3 компьютера"},
        {5, "Отключились сразу 5 компьютеров"},   {11, "Отключились сразу 11 компьютеров"},
        {14, "Отключились сразу 14 компьютеров"}, {21, "Отключился сразу 21 компьютер"},
        {22, "Отключились сразу 22 компьютера"},  {111, "Отключились сразу 111 компьютеров"},
    };
    for (const auto& [count, text] : cases)
        EXPECT_EQ(powerCutAlertText(count), text) << count;
}

TEST(Texts, WriteFaultLineSaysWhatWaitsAndWhy)
{
    const struct
    {
        WriteFaultCounts faults;
        const char* text;
    } cases[] = {
        {{}, ""},
        {{1, ENOSPC}, "Журнал не записан: 1 сессия ждет записи (нет места на диске)"},
        {{3, EIO}, "Журнал не записан: 3 сессии ждут записи (ошибка диска)"},
        {{12, ELOOP}, "Журнал не записан: 12 сессий ждут записи (вместо файла ссылка)"},
        {{0, 0, 21, EMLINK}, "Журнал команд не записан: 21 строка ждет записи (вместо файла ссылка)"},
        {{2, EACCES, 5, EACCES, ENOENT},
         "Журнал не записан: 2 сессии ждут записи (нет доступа к файлу); "
         "Журнал команд не записан: 5 строк ждут записи (нет доступа к файлу); "
         "Список компьютеров не записан (нет папки журнала)"},
        {{0, 0, 0, 0, 9999}, "Список компьютеров не записан (ошибка 9999)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(writeFaultText(c.faults), c.text);
}

TEST(Texts, AWaitingSessionCountsDownInMinutesAndSeconds)
{
    const std::pair<int, const char*> cases[] = {{120, "ждет еще 2:00"},
                                                 {118, "ждет еще 1:58"},
                                                 {5, "ждет еще 0:05"},
                                                 {0, "ждет еще 0:00"},
                                                 {-3, "ждет еще 0:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(awaitingReturnText(seconds), text) << seconds;
    EXPECT_EQ(returnAlertText(3), "При остановке сервера шли сеансы: 3; они ждут свои компьютеры");
}

TEST(Texts, KopecksAreWrittenAndReadToTheKopeck)
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
