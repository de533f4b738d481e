#include "report/PeriodSelection.h"

#include "core/DateTime.h"
#include "core/Texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace ostrel;

namespace {

double day(int d, int m, int y)
{
    return *encodeDate(y, m, d);
}

std::string text(double date)
{
    return *formatDate(date);
}

// A showing opened on a period, activated.
PeriodSelection opened(double beg, double end)
{
    PeriodSelection s(beg, end);
    EXPECT_FALSE(s.FormActivate());
    return s;
}

void expectPeriod(const PeriodSelection& s, double beg, double end)
{
    EXPECT_EQ(text(s.dateBeg()), text(beg));
    EXPECT_EQ(text(s.dateEnd()), text(end));
    EXPECT_EQ(s.statusText(), "Выбран интервал с " + text(beg) + " по " + text(end));
}

} // namespace

TEST(PeriodSelection, OpensInDayModeOnThePreviousFirstDay)
{
    PeriodSelection s = opened(day(1, 3, 2024), day(31, 3, 2024));
    EXPECT_EQ(s.mode(), PeriodSelection::Day);
    expectPeriod(s, day(1, 3, 2024), day(1, 3, 2024));
    EXPECT_EQ(s.fieldText(PeriodSelection::DayOneField), "01.03.2024");
    EXPECT_EQ(s.fieldText(PeriodSelection::DayBField), "01.03.2024");
    EXPECT_EQ(s.fieldText(PeriodSelection::DayEField), "31.03.2024");
    EXPECT_EQ(s.monthText(), "Март 2024");
    EXPECT_EQ(s.kvartText(), "1 Квартал 2024");
    for (auto c : {PeriodSelection::YearCh, PeriodSelection::KvartCh, PeriodSelection::MonthCh, PeriodSelection::DayCh})
        EXPECT_FALSE(s.checked(c));
}

TEST(PeriodSelection, ModesComputeTheirPeriods)
{
    using P = PeriodSelection;
    struct Case
    {
        const char* name;
        double opensOn;
        P::Mode mode;
        std::optional<P::Box> box;
        double beg, end;
    };
    const Case cases[] = {
        {"February of a leap year", day(10, 2, 2024), P::Month, {}, day(1, 2, 2024), day(29, 2, 2024)},
        {"February", day(10, 2, 2023), P::Month, {}, day(1, 2, 2023), day(28, 2, 2023)},
        {"quarter 4", day(5, 11, 2023), P::Quarter, {}, day(1, 10, 2023), day(31, 12, 2023)},
        {"day from the quarter", day(15, 5, 2024), P::Day, P::KvartCh, day(1, 4, 2024), day(15, 5, 2024)},
        {"day from the year", day(15, 5, 2024), P::Day, P::YearCh, day(1, 1, 2024), day(15, 5, 2024)},
        {"day from the month", day(15, 5, 2024), P::Day, P::MonthCh, day(1, 5, 2024), day(15, 5, 2024)},
        {"day from the fixed date", day(15, 5, 2024), P::Day, P::DayCh, day(1, 1, 2000), day(15, 5, 2024)},
        {"month from the year", day(20, 5, 2024), P::Month, P::YearCh, day(1, 1, 2024), day(31, 5, 2024)},
        {"month from the quarter", day(20, 5, 2024), P::Month, P::KvartCh, day(1, 4, 2024), day(31, 5, 2024)},
        {"quarter from the year", day(20, 8, 2024), P::Quarter, P::YearCh, day(1, 1, 2024), day(30, 9, 2024)},
        {"interval from the fixed date", day(20, 8, 2024), P::Interval, P::DayCh, day(1, 1, 2000), day(20, 8, 2024)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeriodSelection s = opened(c.opensOn, c.opensOn);
        EXPECT_FALSE(s.setMode(c.mode));
        if (c.box) {
            EXPECT_FALSE(s.boxClick(*c.box, true));
        }
        expectPeriod(s, c.beg, c.end);
    }
}

TEST(PeriodSelection, EnabledSetsAndBoxesClearedPerMode)
{
    using P = PeriodSelection;
    struct Case
    {
        P::Mode mode;
        std::vector<P::Control> enabled;
        std::vector<P::Box> cleared;
    };
    const Case cases[] = {
        {P::Day, {P::YearChBox, P::KvartChBox, P::MonthChBox, P::DayChBox, P::DayOne, P::DayOneSP}, {}},
        {P::Interval, {P::DayChBox, P::DayB, P::DayBSP, P::DayE, P::DayESP}, {P::YearCh, P::KvartCh, P::MonthCh}},
        {P::Month, {P::YearChBox, P::KvartChBox, P::DayChBox, P::MonthYear, P::MonthUP}, {P::MonthCh}},
        {P::Quarter, {P::YearChBox, P::DayChBox, P::KvartE, P::KvartUp}, {P::MonthCh, P::KvartCh}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        for (P::Box checkedBefore : {P::YearCh, P::KvartCh, P::MonthCh}) {
            P s = opened(day(15, 5, 2024), day(15, 5, 2024));
            ASSERT_FALSE(s.boxClick(checkedBefore, true));
            ASSERT_FALSE(s.setMode(c.mode));
            for (int k = 0; k < P::ControlCount; ++k) {
                const auto control = static_cast<P::Control>(k);
                const bool expected = std::find(c.enabled.begin(), c.enabled.end(), control) != c.enabled.end();
                EXPECT_EQ(s.enabled(control), expected) << "control " << k;
            }
            const bool cleared = std::find(c.cleared.begin(), c.cleared.end(), checkedBefore) != c.cleared.end();
            EXPECT_EQ(s.checked(checkedBefore), !cleared) << "box " << checkedBefore;
        }
    }
}

TEST(PeriodSelection, AtMostOneBoxIsChecked)
{
    PeriodSelection s = opened(day(15, 5, 2024), day(15, 5, 2024));
    s.boxClick(PeriodSelection::YearCh, true);
    s.boxClick(PeriodSelection::MonthCh, true);
    EXPECT_FALSE(s.checked(PeriodSelection::YearCh));
    EXPECT_TRUE(s.checked(PeriodSelection::MonthCh));
    s.boxClick(PeriodSelection::MonthCh, false);
    EXPECT_FALSE(s.checked(PeriodSelection::MonthCh));
    expectPeriod(s, day(15, 5, 2024), day(15, 5, 2024));
}

TEST(PeriodSelection, SteppersWrapTheYearAndStayIndependent)
{
    PeriodSelection s = opened(day(10, 1, 2024), day(10, 1, 2024));
    s.setMode(PeriodSelection::Month);
    EXPECT_FALSE(s.MonthUPClick(false));
    EXPECT_EQ(s.monthText(), "Декабрь 2023");
    expectPeriod(s, day(1, 12, 2023), day(31, 12, 2023));
    EXPECT_EQ(s.kvartText(), "1 Квартал 2024"); // the quarter counters are not moved by the month

    PeriodSelection q = opened(day(5, 11, 2023), day(5, 11, 2023));
    q.setMode(PeriodSelection::Quarter);
    EXPECT_FALSE(q.KvartUpClick(true));
    EXPECT_EQ(q.kvartText(), "1 Квартал 2024");
    expectPeriod(q, day(1, 1, 2024), day(31, 3, 2024));
    EXPECT_EQ(q.monthText(), "Ноябрь 2023");
    EXPECT_FALSE(q.KvartUpClick(false));
    EXPECT_EQ(q.kvartText(), "4 Квартал 2023");
}

TEST(PeriodSelection, YearOutsideTheCalendarIsAnErrorThatKeepsTheCounters)
{
    PeriodSelection s = opened(day(10, 1, 1), day(10, 1, 1));
    s.setMode(PeriodSelection::Month);
    const std::string status = s.statusText();
    const double beg = s.dateBeg();
    EXPECT_TRUE(s.MonthUPClick(false));
    EXPECT_EQ(s.year(), 0);
    EXPECT_EQ(s.month(), 12);
    EXPECT_EQ(s.monthText(), "Декабрь 0");
    EXPECT_EQ(s.statusText(), status);
    EXPECT_EQ(s.dateBeg(), beg);
    EXPECT_FALSE(s.MonthUPClick(true)); // back in range
    expectPeriod(s, day(1, 1, 1), day(31, 1, 1));

    PeriodSelection q = opened(day(1, 12, 9999), day(1, 12, 9999));
    q.setMode(PeriodSelection::Quarter);
    expectPeriod(q, day(1, 10, 9999), day(31, 12, 9999)); // the last quarter there is has an end
    EXPECT_TRUE(q.KvartUpClick(true));
    EXPECT_EQ(q.kvartText(), "1 Квартал 10000");
}

TEST(PeriodSelection, FieldThatIsNotADateStopsTheRecomputation)
{
    PeriodSelection s = opened(day(15, 5, 2024), day(20, 5, 2024));
    s.setMode(PeriodSelection::Interval);
    expectPeriod(s, day(15, 5, 2024), day(20, 5, 2024));
    const std::string status = s.statusText();

    s.setFieldText(PeriodSelection::DayBField, "03.06.2024");
    s.setFieldText(PeriodSelection::DayEField, "  .  .    ");
    EXPECT_TRUE(s.VidClick());
    EXPECT_EQ(s.dateBeg(), day(3, 6, 2024)); // assigned before the failing field was read
    EXPECT_EQ(s.dateEnd(), day(20, 5, 2024));
    EXPECT_EQ(s.statusText(), status);

    double seed = 0;
    EXPECT_TRUE(s.calendarSeed(PeriodSelection::DayEField, seed));
    EXPECT_FALSE(s.calendarSeed(PeriodSelection::DayBField, seed));
    EXPECT_EQ(seed, day(3, 6, 2024));

    s.setFieldText(PeriodSelection::DayBField, "31.02.2024");
    EXPECT_TRUE(s.boxClick(PeriodSelection::DayCh, true));
    EXPECT_TRUE(s.checked(PeriodSelection::DayCh));

    s.setFieldText(PeriodSelection::DayBField, "15.05.20  "); // a short year is no date
    EXPECT_TRUE(s.calendarSeed(PeriodSelection::DayBField, seed));
    EXPECT_EQ(seed, day(3, 6, 2024));
}

TEST(PeriodSelection, TypingChangesNothingUntilARecomputation)
{
    PeriodSelection s = opened(day(15, 5, 2024), day(15, 5, 2024));
    s.setFieldText(PeriodSelection::DayOneField, "01.01.2023");
    expectPeriod(s, day(15, 5, 2024), day(15, 5, 2024));
    s.boxClick(PeriodSelection::MonthCh, false);
    expectPeriod(s, day(1, 1, 2023), day(1, 1, 2023));
}

TEST(PeriodSelection, AnEditedFieldTakesEffectAsAPickWould)
{
    const struct
    {
        PeriodSelection::Mode mode;
        bool fromFixedDate; // "С начальной даты" checked
        PeriodSelection::Field field;
        const char* typed;
        double beg, end;
    } cases[] = {
        {PeriodSelection::Interval, false, PeriodSelection::DayEField, "20.11.2026", day(15, 5, 2024),
         day(20, 11, 2026)},
        {PeriodSelection::Interval, true, PeriodSelection::DayBField, "3.6.2024", day(3, 6, 2024), day(20, 5, 2024)},
        {PeriodSelection::Day, false, PeriodSelection::DayOneField, "01.12.2026", day(1, 12, 2026), day(1, 12, 2026)},
        {PeriodSelection::Day, true, PeriodSelection::DayOneField, "01.12.2026", day(1, 1, 2000), day(1, 12, 2026)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        PeriodSelection s = opened(day(15, 5, 2024), day(20, 5, 2024));
        s.setMode(c.mode);
        s.boxClick(PeriodSelection::DayCh, c.fromFixedDate);
        s.setFieldText(c.field, c.typed);
        EXPECT_FALSE(s.fieldEdited(c.field));
        expectPeriod(s, c.beg, c.end);
        EXPECT_EQ(s.fieldText(c.field), text(c.field == PeriodSelection::DayBField ? c.beg : c.end));
    }

    // Not a date: the error, and the period stays as it was.
    for (const char* typed : {"31.02.2026", "  .  .    ", "32.01.2026", "15.13.2026"}) {
        PeriodSelection s = opened(day(15, 5, 2024), day(20, 5, 2024));
        s.setMode(PeriodSelection::Interval);
        s.setFieldText(PeriodSelection::DayEField, typed);
        EXPECT_EQ(s.fieldEdited(PeriodSelection::DayEField), std::string("\"") + typed + "\" - неверная дата");
        expectPeriod(s, day(15, 5, 2024), day(20, 5, 2024));
    }
}

TEST(PeriodSelection, CalendarPicks)
{
    PeriodSelection s = opened(day(15, 5, 2024), day(20, 5, 2024));
    s.setMode(PeriodSelection::Interval);
    s.boxClick(PeriodSelection::DayCh, true);
    expectPeriod(s, day(1, 1, 2000), day(20, 5, 2024));
    EXPECT_FALSE(s.DayBSPClick(day(2, 5, 2024))); // a picked begin is taken as it is
    expectPeriod(s, day(2, 5, 2024), day(20, 5, 2024));
    EXPECT_EQ(s.fieldText(PeriodSelection::DayBField), "02.05.2024");
    EXPECT_FALSE(s.DayESPClick(day(25, 5, 2024)));
    expectPeriod(s, day(2, 5, 2024), day(25, 5, 2024));

    PeriodSelection d = opened(day(15, 5, 2024), day(15, 5, 2024));
    d.boxClick(PeriodSelection::MonthCh, true);
    EXPECT_FALSE(d.DayOneSPClick(day(17, 6, 2024)));
    expectPeriod(d, day(1, 6, 2024), day(17, 6, 2024));
}
