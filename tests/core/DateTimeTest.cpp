#include "core/DateTime.h"

#include "support/TextCases.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

using testing::Inf;
using testing::NaN;

TEST(DateTime, KnownDayNumbers)
{
    struct Case
    {
        double dayNumber;
        CivilDate date;
    };
    const Case cases[] = {
        {0, {1899, 12, 30}},         {1, {1899, 12, 31}},
        {2, {1900, 1, 1}},           {60, {1900, 2, 28}},
        {61, {1900, 3, 1}},          {36'526, {2000, 1, 1}},
        {36'585, {2000, 2, 29}},     {45'292, {2024, 1, 1}},
        {46'364, {2026, 12, 8}},     {-693'593, {1, 1, 1}},
        {2'958'465, {9999, 12, 31}}, {-1.25, {1899, 12, 29}}, // the date part is truncated toward zero
        {36'526.999, {2000, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dayNumber);
        EXPECT_EQ(decodeDate(c.dayNumber), c.date);
        if (c.dayNumber == std::trunc(c.dayNumber)) {
            EXPECT_EQ(encodeDate(c.date), c.dayNumber);
        }
    }
}

TEST(DateTime, EveryDayOfTheRangeFollowsTheDayBefore)
{
    CivilDate previous{0, 12, 31};
    for (double d = MinDayNumber; d < MaxDayNumber; d += 1) {
        const auto date = decodeDate(d);
        ASSERT_TRUE(date) << d;
        const bool nextDay =
            date->year == previous.year && date->month == previous.month && date->day == previous.day + 1;
        const bool nextMonth = date->year == previous.year && date->month == previous.month + 1 && date->day == 1 &&
                               previous.day == daysInMonth(previous.year, previous.month);
        const bool nextYear = date->year == previous.year + 1 && date->month == 1 && date->day == 1 &&
                              previous.month == 12 && previous.day == 31;
        ASSERT_TRUE(nextDay || nextMonth || nextYear) << d;
        ASSERT_EQ(encodeDate(*date), d);
        previous = *date;
    }
    EXPECT_EQ(previous, (CivilDate{9999, 12, 31}));
}

TEST(DateTime, LeapYearsAndInvalidDates)
{
    EXPECT_TRUE(isLeapYear(2000));
    EXPECT_TRUE(isLeapYear(2024));
    EXPECT_FALSE(isLeapYear(1900));
    EXPECT_FALSE(isLeapYear(2100));
    EXPECT_FALSE(isLeapYear(2023));
    EXPECT_TRUE(encodeDate(2000, 2, 29));
    EXPECT_TRUE(encodeDate(2024, 2, 29));
    EXPECT_TRUE(encodeDate(4, 2, 29));
    const CivilDate invalid[] = {{2100, 2, 29}, {1900, 2, 29}, {2023, 2, 29}, {2024, 4, 31},  {2024, 1, 0},
                                 {2024, 0, 1},  {2024, 13, 1}, {0, 1, 1},     {10'000, 1, 1}, {-5, 1, 1}};
    for (const CivilDate& d : invalid)
        EXPECT_FALSE(encodeDate(d)) << d.year << '-' << d.month << '-' << d.day;
    EXPECT_EQ(daysInMonth(2024, 0), 0);
    EXPECT_EQ(daysInMonth(2024, 13), 0);
}

TEST(DateTime, ValidRangeAndNonFiniteValues)
{
    EXPECT_TRUE(isValidDateTime(MinDayNumber));
    EXPECT_TRUE(isValidDateTime(MinDayNumber - 0.5)); // still 01.01.0001, at noon
    EXPECT_TRUE(isValidDateTime(MaxDayNumber - 0.001));
    const double invalid[] = {NaN, Inf, -Inf, MaxDayNumber, MinDayNumber - 1, 1e300, -1e300};
    for (const double x : invalid) {
        EXPECT_FALSE(isValidDateTime(x)) << x;
        EXPECT_FALSE(decodeDate(x)) << x;
    }
    for (const double x : {NaN, Inf, -Inf, 1e300, -1e300, 1e12}) {
        EXPECT_FALSE(toMilliseconds(x)) << x;
        EXPECT_FALSE(timeOfDay(x)) << x;
    }
}

TEST(DateTime, TimeOfDayByTheMillisecondRule)
{
    struct Case
    {
        double x;
        TimeOfDay time;
    };
    const Case cases[] = {
        {encodeTime(11, 30, 59) - encodeTime(10, 0, 0), {1, 30, 59, 0}},
        {25.0 / 24, {1, 0, 0, 0}},                                   // whole days dropped
        {encodeTime(1, 0, 0) - encodeTime(1, 10, 0), {0, 10, 0, 0}}, // negative: its absolute value
        {-1.25, {6, 0, 0, 0}},
        {45'292.75, {18, 0, 0, 0}},
        {encodeTime(0, 0, 59, 999) + 0.6 / 86'400'000, {0, 1, 0, 0}}, // rounded to the nearest ms
        {encodeTime(0, 0, 59, 999) + 0.4 / 86'400'000, {0, 0, 59, 999}},
        {0.999'999'999'9, {0, 0, 0, 0}}, // rounds up to a whole day
        {encodeTime(23, 59, 59, 999), {23, 59, 59, 999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(timeOfDay(c.x), c.time);
    }
    EXPECT_EQ(toMilliseconds(-1.5), -129'600'000);
}

TEST(DateTime, NowIsInTheValidRange)
{
    const double now = nowDayNumber();
    EXPECT_TRUE(isValidDateTime(now));
    EXPECT_GT(now, 46'000.0);
    const double today = todayDayNumber();
    EXPECT_EQ(today, std::trunc(today));
    EXPECT_LE(today, nowDayNumber());
}

} // namespace
} // namespace ostrel
