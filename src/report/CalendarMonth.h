#pragma once

#include "core/DateTime.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// The month grid of the calendar picker: one date, shown as its month in six weeks of seven
// days starting on Monday. Cells outside the month are blank and can never hold the selection.
class CalendarMonth
{
public:
    static constexpr int Weeks = 6;
    static constexpr int WeekDays = 7;

    CalendarMonth(); // today
    explicit CalendarMonth(const CivilDate& date);

    const CivilDate& date() const { return m_date; }
    double dayNumber() const;

    // Every effective change of the date counts one change; a setter that changes nothing does not.
    std::uint64_t changes() const { return m_changes; }

    // Sets the whole date (always one change, as the grid redraws). False for an invalid date.
    bool setDate(const CivilDate& date);
    bool setDate(double dayNumber);

    // One element: nothing happens for v < 1, a month above 12, a day past the current month's
    // length or an unchanged value.
    void setDay(int v);
    void setMonth(int v);
    void setYear(int v);

    // The day stays, cut to the length of the target month.
    void previousMonth();
    void nextMonth();
    // 29 February becomes 28 first.
    void previousYear();
    void nextYear();

    // The date menu.
    void N1Click(); // today
    void N3Click(); // first of the month
    void N4Click(); // last of the month
    void N6Click(); // first of the year
    void N7Click(); // last of the year

    // Day number of a cell (week 0..5, weekday 0..6 from Monday), 0 for a blank cell.
    int cellDay(int week, int weekDay) const;
    int selectedWeek() const;
    int selectedWeekDay() const;

    // A click on a cell below the header, or the selection moved there by keyboard: a day cell
    // becomes the date, a blank cell or one outside the grid leaves it as it was. True when the
    // date changed.
    bool selectCell(int week, int weekDay);

    // "Март 2024"
    std::string monthText() const;

private:
    int firstWeekDay() const; // weekday 0..6 of the 1st of the month
    void assign(const CivilDate& date);

    CivilDate m_date;
    std::uint64_t m_changes = 0;
};

} // namespace ostrel
