#include "report/CalendarMonth.h"

#include "report/MonthNames.h"

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

CivilDate todayDate()
{
    if (auto d = decodeDate(todayDayNumber()))
        return *d;
    return {2000, 1, 1};
}

} // namespace

CalendarMonth::CalendarMonth() : m_date(todayDate()) {}

CalendarMonth::CalendarMonth(const CivilDate& date) : m_date(todayDate())
{
    if (encodeDate(date))
        m_date = date;
}

double CalendarMonth::dayNumber() const
{
    return encodeDate(m_date).value_or(0.0);
}

void CalendarMonth::assign(const CivilDate& date)
{
    m_date = date;
    ++m_changes;
}

bool CalendarMonth::setDate(const CivilDate& date)
{
    if (!encodeDate(date))
        return false;
    assign(date);
    return true;
}

bool CalendarMonth::setDate(double dayNumber)
{
    const auto d = decodeDate(dayNumber);
    return d && setDate(*d);
}

void CalendarMonth::setDay(int v)
{
    if (v < 1 || v > daysInMonth(m_date.year, m_date.month) || v == m_date.day)
        return;
    assign({m_date.year, m_date.month, v});
}

void CalendarMonth::setMonth(int v)
{
    if (v < 1 || v > 12 || v == m_date.month)
        return;
    // A day the new month lacks cannot be rebuilt into a date; the grid then keeps its date.
    if (!encodeDate(m_date.year, v, m_date.day))
        return;
    assign({m_date.year, v, m_date.day});
}

void CalendarMonth::setYear(int v)
{
    if (v < 1 || v == m_date.year || !encodeDate(v, m_date.month, m_date.day))
        return;
    assign({v, m_date.month, m_date.day});
}

void CalendarMonth::previousMonth()
{
    CivilDate d = m_date;
    if (d.month == 1) {
        if (d.year <= 1)
            return;
        d.year -= 1;
        d.month = 12;
    } else {
        d.month -= 1;
    }
    d.day = std::min(d.day, daysInMonth(d.year, d.month));
    assign(d);
}

void CalendarMonth::nextMonth()
{
    CivilDate d = m_date;
    if (d.month == 12) {
        if (d.year >= 9999)
            return;
        d.year += 1;
        d.month = 1;
    } else {
        d.month += 1;
    }
    d.day = std::min(d.day, daysInMonth(d.year, d.month));
    assign(d);
}

void CalendarMonth::previousYear()
{
    if (m_date.month == 2 && m_date.day == 29)
        setDay(28);
    setYear(m_date.year - 1);
}

void CalendarMonth::nextYear()
{
    if (m_date.month == 2 && m_date.day == 29)
        setDay(28);
    setYear(m_date.year + 1);
}

void CalendarMonth::N1Click()
{
    setDate(todayDate());
}

void CalendarMonth::N3Click()
{
    setDay(1);
}

void CalendarMonth::N4Click()
{
    switch (m_date.month) {
    case 4:
    case 6:
    case 9:
    case 11:
        setDay(30);
        break;
    case 2:
        setDay(28);
        if (isLeapYear(m_date.year))
            setDay(29);
        break;
    default:
        setDay(31);
    }
}

void CalendarMonth::N6Click()
{
    setDay(1);
    setMonth(1);
}

void CalendarMonth::N7Click()
{
    setMonth(12);
    setDay(31);
}

int CalendarMonth::firstWeekDay() const
{
    // Day 2 (1 January 1900) was a Monday.
    const double first = encodeDate(m_date.year, m_date.month, 1).value_or(2.0);
    const double mod = std::fmod(first - 2.0, 7.0);
    return static_cast<int>(mod < 0 ? mod + 7.0 : mod);
}

int CalendarMonth::cellDay(int week, int weekDay) const
{
    if (week < 0 || week >= Weeks || weekDay < 0 || weekDay >= WeekDays)
        return 0;
    const int day = week * WeekDays + weekDay - firstWeekDay() + 1;
    return day >= 1 && day <= daysInMonth(m_date.year, m_date.month) ? day : 0;
}

int CalendarMonth::selectedWeek() const
{
    return (m_date.day - 1 + firstWeekDay()) / WeekDays;
}

int CalendarMonth::selectedWeekDay() const
{
    return (m_date.day - 1 + firstWeekDay()) % WeekDays;
}

bool CalendarMonth::selectCell(int week, int weekDay)
{
    const int day = cellDay(week, weekDay);
    if (day == 0 || day == m_date.day)
        return false;
    setDay(day);
    return true;
}

std::string CalendarMonth::monthText() const
{
    return std::string(MonthNames[static_cast<std::size_t>(m_date.month)]) + " " + std::to_string(m_date.year);
}

} // namespace ostrel
