#include "core/Texts.h"

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

TEST(Texts, TimeFormat)
{
    const testing::FormatCase cases[] = {
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
    testing::expectFormats(formatTime, cases);
    for (const double x : {NaN, Inf, -Inf, 1e300})
        EXPECT_FALSE(formatTime(x)) << x;
}

TEST(Texts, TimeParse)
{
    const testing::ParseCase<double> cases[] = {
        {"1:30:59", encodeTime(1, 30, 59)}, {"10:00", encodeTime(10, 0, 0)},      {" 9:05:03 ", encodeTime(9, 5, 3)},
        {"09:5:3", encodeTime(9, 5, 3)},    {"23:59:59", encodeTime(23, 59, 59)}, {"0:00:00", 0.0},
    };
    testing::expectParses(parseTime, cases);
    testing::expectRefuses(parseTime, {"24:00:00", "1:60:00", "1:00:60", "", "1", "1:2:3:4", "a:00", "-1:00", "1::00",
                                       "100:00", "1:00:00 PM", "1,5:00"});
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
    const testing::ParseCase<int> cases[] = {
        {"1", 1},
        {" 42 ", 42},
        {"-1", -1},
        {"+7", 7},
        {"007", 7},
        {"2147483647", 2'147'483'647},
        {"-2147483648", std::numeric_limits<int>::min()},
    };
    testing::expectParses(parseWholeNumber, cases);
    testing::expectRefuses(parseWholeNumber, {"2147483648", "-2147483649", "99999999999999999999", "", "ERROR", "yes",
                                              "1.0", "1,0", "1 2", "-", "0x10"});
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

} // namespace
} // namespace ostrel
