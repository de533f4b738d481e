#include "report/PeriodSelection.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "report/MonthNames.h"

namespace ostrel {

namespace {

constexpr CivilDate FixedStartDate{2000, 1, 1};

std::string notADate(const std::string& text)
{
    return "\"" + text + "\" - неверная дата";
}

std::string dateText(double date)
{
    return formatDate(date).value_or(std::string());
}

// The year of a counter that has left 1..9999 cannot become a date.
std::string yearError(int year, int month)
{
    return "Неверная дата: год " + std::to_string(year) + ", месяц " + std::to_string(month);
}

} // namespace

PeriodSelection::PeriodSelection(double dateBeg, double dateEnd) : m_dateBeg(dateBeg), m_dateEnd(dateEnd)
{
    // The controls as the dialog is created: Day mode, all boxes enabled and unchecked.
    enable({DayOne, DayOneSP, YearChBox, KvartChBox, MonthChBox, DayChBox});
}

void PeriodSelection::enable(std::initializer_list<Control> controls)
{
    for (const Control c : controls)
        m_enabled[c] = true;
}

PeriodSelection::Error PeriodSelection::fieldDate(Field field, double& date) const
{
    const auto parsed = parseDate(m_fields[field]);
    if (!parsed)
        return notADate(m_fields[field]);
    date = *parsed;
    return std::nullopt;
}

double PeriodSelection::YKMBegin(double date) const
{
    auto d = decodeDate(date);
    if (!d)
        return date;
    if (m_checked[YearCh]) {
        d->month = 1;
        d->day = 1;
    } else if (m_checked[KvartCh]) {
        d->month = ((d->month - 1) / 3) * 3 + 1;
        d->day = 1;
    } else if (m_checked[MonthCh]) {
        d->day = 1;
    }
    if (m_checked[DayCh])
        *d = FixedStartDate;
    return encodeDate(*d).value_or(date);
}

void PeriodSelection::refreshStatus()
{
    m_status = "Выбран интервал с " + dateText(m_dateBeg) + " по " + dateText(m_dateEnd);
}

void PeriodSelection::updateMonthText()
{
    const std::size_t m = m_month >= 1 && m_month <= 12 ? m_month : 0;
    m_monthText = std::string(MonthNames[m]) + " " + std::to_string(m_year);
}

void PeriodSelection::updateKvartText()
{
    m_kvartText = std::to_string(m_kvart) + " Квартал " + std::to_string(m_kvartYear);
}

PeriodSelection::Error PeriodSelection::FormActivate()
{
    const auto d = decodeDate(m_dateBeg);
    const CivilDate begin = d.value_or(decodeDate(todayDayNumber()).value_or(FixedStartDate));
    m_year = static_cast<std::uint16_t>(begin.year);
    m_month = static_cast<std::uint16_t>(begin.month);
    m_kvartYear = m_year;
    m_kvart = static_cast<std::uint16_t>((m_month - 1) / 3 + 1);
    m_fields[DayOneField] = dateText(m_dateBeg);
    m_fields[DayBField] = dateText(m_dateBeg);
    m_fields[DayEField] = dateText(m_dateEnd);
    updateMonthText();
    updateKvartText();
    return dayPeriod();
}

PeriodSelection::Error PeriodSelection::dayPeriod()
{
    double day = 0;
    if (auto e = fieldDate(DayOneField, day))
        return e;
    m_dateBeg = YKMBegin(day);
    m_dateEnd = day;
    refreshStatus();
    return std::nullopt;
}

PeriodSelection::Error PeriodSelection::monthsPeriod(int year, int firstMonth, int months)
{
    const auto first = encodeDate(year, firstMonth, 1);
    if (!first)
        return yearError(year, firstMonth);
    // The last day directly, so December of the year 9999 has an end too.
    const int lastMonth = firstMonth + months - 1;
    m_dateEnd = *encodeDate(year, lastMonth, daysInMonth(year, lastMonth));
    m_dateBeg = YKMBegin(*first);
    refreshStatus();
    return std::nullopt;
}

PeriodSelection::Error PeriodSelection::VidClick()
{
    for (const Control c : {YearChBox, KvartChBox, MonthChBox, KvartE, KvartUp, DayOne, DayOneSP, DayB, DayE, DayBSP,
                            DayESP, MonthYear, MonthUP})
        m_enabled[c] = false;
    switch (m_mode) {
    case Day: {
        enable({YearChBox, KvartChBox, MonthChBox, DayOne, DayOneSP});
        return dayPeriod();
    }
    case Interval: {
        m_checked[MonthCh] = m_checked[YearCh] = m_checked[KvartCh] = false;
        enable({DayB, DayE, DayBSP, DayESP});
        double begin = 0;
        if (auto e = fieldDate(DayBField, begin))
            return e;
        m_dateBeg = YKMBegin(begin);
        double end = 0;
        if (auto e = fieldDate(DayEField, end))
            return e;
        m_dateEnd = end;
        refreshStatus();
        return std::nullopt;
    }
    case Month:
        enable({YearChBox, KvartChBox});
        m_checked[MonthCh] = false;
        enable({MonthYear, MonthUP});
        updateMonthText();
        return monthsPeriod(m_year, m_month, 1);
    case Quarter:
        enable({YearChBox});
        m_checked[MonthCh] = m_checked[KvartCh] = false;
        enable({KvartE, KvartUp});
        updateKvartText();
        return monthsPeriod(m_kvartYear, 3 * m_kvart - 2, 3);
    }
    return std::nullopt;
}

PeriodSelection::Error PeriodSelection::setMode(Mode mode)
{
    m_mode = mode;
    return VidClick();
}

namespace {

// One step of a counter that runs 1..last within a year (months, quarters), carrying into the year.
template <typename Counter, typename Year> void stepWithinYear(Counter& counter, Year& year, Counter last, bool up)
{
    if (up) {
        if (counter == last) {
            counter = 1;
            ++year;
        } else {
            ++counter;
        }
    } else if (counter == 1) {
        counter = last;
        --year;
    } else {
        --counter;
    }
}

} // namespace

PeriodSelection::Error PeriodSelection::MonthUPClick(bool up)
{
    stepWithinYear(m_month, m_year, decltype(m_month){12}, up);
    updateMonthText();
    return monthsPeriod(m_year, m_month, 1);
}

PeriodSelection::Error PeriodSelection::KvartUpClick(bool up)
{
    stepWithinYear(m_kvart, m_kvartYear, decltype(m_kvart){4}, up);
    updateKvartText();
    return monthsPeriod(m_kvartYear, 3 * m_kvart - 2, 3);
}

PeriodSelection::Error PeriodSelection::boxClick(Box box, bool checked)
{
    for (int b = YearCh; b <= DayCh; ++b)
        m_checked[static_cast<std::size_t>(b)] = false;
    m_checked[box] = checked;
    return VidClick();
}

PeriodSelection::Error PeriodSelection::calendarSeed(Field field, double& seed) const
{
    return fieldDate(field, seed);
}

PeriodSelection::Error PeriodSelection::DayOneSPClick(double picked)
{
    m_fields[DayOneField] = dateText(picked);
    return dayPeriod();
}

PeriodSelection::Error PeriodSelection::pickInto(Field field, double picked, double& date)
{
    m_fields[field] = dateText(picked);
    if (auto e = fieldDate(field, date))
        return e;
    refreshStatus();
    return std::nullopt;
}

PeriodSelection::Error PeriodSelection::fieldEdited(Field field)
{
    double date = 0;
    if (auto e = fieldDate(field, date))
        return e;
    switch (field) {
    case DayOneField:
        return DayOneSPClick(date);
    case DayBField:
        return DayBSPClick(date);
    case DayEField:
        return DayESPClick(date);
    }
    return std::nullopt;
}

// A begin date picked from the calendar is taken without YKMBegin, until the next recomputation.
PeriodSelection::Error PeriodSelection::DayBSPClick(double picked)
{
    return pickInto(DayBField, picked, m_dateBeg);
}

PeriodSelection::Error PeriodSelection::DayESPClick(double picked)
{
    return pickInto(DayEField, picked, m_dateEnd);
}

} // namespace ostrel
