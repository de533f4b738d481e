#include "report/CalendarMonth.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

CivilDate d(int day, int month, int year)
{
    return {year, month, day};
}

} // namespace

TEST(CalendarMonth, WeeksStartOnMondayWithBlankCellsAroundTheMonth)
{
    CalendarMonth cal(d(10, 5, 2024)); // 1 May 2024 is a Wednesday
    EXPECT_EQ(cal.cellDay(0, 0), 0);
    EXPECT_EQ(cal.cellDay(0, 1), 0);
    EXPECT_EQ(cal.cellDay(0, 2), 1);
    EXPECT_EQ(cal.cellDay(1, 0), 6);
    EXPECT_EQ(cal.cellDay(4, 4), 31);
    EXPECT_EQ(cal.cellDay(4, 5), 0);
    EXPECT_EQ(cal.cellDay(5, 6), 0);
    EXPECT_EQ(cal.selectedWeek(), 1);
    EXPECT_EQ(cal.selectedWeekDay(), 4); // Friday 10 May

    CalendarMonth sunday(d(1, 9, 2024)); // a month starting on Sunday needs the sixth week
    EXPECT_EQ(sunday.cellDay(0, 6), 1);
    EXPECT_EQ(sunday.cellDay(5, 0), 30);
}

TEST(CalendarMonth, SelectingABlankCellKeepsTheDate)
{
    CalendarMonth cal(d(10, 5, 2024));
    const auto before = cal.changes();
    EXPECT_FALSE(cal.selectCell(0, 0));
    EXPECT_FALSE(cal.selectCell(6, 0)); // outside the grid
    EXPECT_EQ(cal.date(), d(10, 5, 2024));
    EXPECT_EQ(cal.changes(), before);
    EXPECT_TRUE(cal.selectCell(0, 2));
    EXPECT_EQ(cal.date(), d(1, 5, 2024));
}

TEST(CalendarMonth, ElementSettersIgnoreImpossibleAndUnchangedValues)
{
    CalendarMonth cal(d(30, 4, 2024));
    const auto before = cal.changes();
    cal.setDay(0);
    cal.setDay(31); // April has 30 days
    cal.setDay(30);
    cal.setMonth(0);
    cal.setMonth(13);
    cal.setMonth(4);
    cal.setYear(0);
    cal.setYear(2024);
    EXPECT_EQ(cal.changes(), before);
    EXPECT_EQ(cal.date(), d(30, 4, 2024));
    cal.setMonth(6);
    EXPECT_EQ(cal.date(), d(30, 6, 2024));
    EXPECT_EQ(cal.changes(), before + 1);
}

TEST(CalendarMonth, MonthAndYearSteps)
{
    struct Case
    {
        CivilDate from;
        void (CalendarMonth::*step)();
        CivilDate to;
        const char* text;
    };
    const Case cases[] = {
        {d(31, 5, 2024), &CalendarMonth::previousMonth, d(30, 4, 2024), "Апрель 2024"},
        {d(31, 3, 2024), &CalendarMonth::previousMonth, d(29, 2, 2024), "Февраль 2024"},
        {d(31, 1, 2023), &CalendarMonth::nextMonth, d(28, 2, 2023), "Февраль 2023"},
        {d(15, 12, 2023), &CalendarMonth::nextMonth, d(15, 1, 2024), "Январь 2024"},
        {d(15, 1, 2024), &CalendarMonth::previousMonth, d(15, 12, 2023), "Декабрь 2023"},
        {d(29, 2, 2024), &CalendarMonth::nextYear, d(28, 2, 2025), "Февраль 2025"},
        {d(29, 2, 2024), &CalendarMonth::previousYear, d(28, 2, 2023), "Февраль 2023"},
        {d(31, 8, 2024), &CalendarMonth::nextYear, d(31, 8, 2025), "Август 2025"},
    };
    for (const Case& c : cases) {
        CalendarMonth cal(c.from);
        const auto before = cal.changes();
        (cal.*c.step)();
        EXPECT_EQ(cal.date(), c.to) << c.text;
        EXPECT_EQ(cal.monthText(), c.text);
        EXPECT_GT(cal.changes(), before) << c.text;
    }
}

TEST(CalendarMonth, DateMenu)
{
    struct Case
    {
        CivilDate from;
        void (CalendarMonth::*item)();
        CivilDate to;
    };
    const Case cases[] = {
        {d(10, 2, 2100), &CalendarMonth::N4Click, d(28, 2, 2100)}, // not leap: divisible by 100
        {d(10, 2, 2000), &CalendarMonth::N4Click, d(29, 2, 2000)}, // leap: divisible by 400
        {d(10, 2, 2024), &CalendarMonth::N4Click, d(29, 2, 2024)},
        {d(1, 4, 2024), &CalendarMonth::N4Click, d(30, 4, 2024)},
        {d(1, 7, 2024), &CalendarMonth::N4Click, d(31, 7, 2024)},
        {d(17, 7, 2024), &CalendarMonth::N3Click, d(1, 7, 2024)},
        {d(30, 11, 2024), &CalendarMonth::N7Click, d(31, 12, 2024)},
        {d(31, 3, 2024), &CalendarMonth::N6Click, d(1, 1, 2024)},
    };
    for (const Case& c : cases) {
        CalendarMonth cal(c.from);
        (cal.*c.item)();
        EXPECT_EQ(cal.date(), c.to) << c.from.day << "." << c.from.month << "." << c.from.year;
    }

    CalendarMonth cal(d(1, 1, 2001));
    cal.N1Click();
    EXPECT_EQ(cal.dayNumber(), todayDayNumber());
}
