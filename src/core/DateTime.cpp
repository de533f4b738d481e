#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace ostrel {

namespace {

// Day number of 01.01.1970, the origin of the civil-date arithmetic below.
constexpr std::int64_t UnixEpochDayNumber = 25'569;

// Days from 01.01.1970 in the proleptic Gregorian calendar (after H. Hinnant's days_from_civil).
constexpr std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + static_cast<std::int64_t>(doe) - 719'468;
}

constexpr CivilDate civilFromDays(std::int64_t z)
{
    z += 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const auto doe = static_cast<unsigned>(z - era * 146'097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return CivilDate{static_cast<int>(y + (m <= 2 ? 1 : 0)), static_cast<int>(m), static_cast<int>(d)};
}

static_assert(daysFromCivil(1899, 12, 30) == -UnixEpochDayNumber);
static_assert(daysFromCivil(1, 1, 1) + UnixEpochDayNumber == static_cast<std::int64_t>(MinDayNumber));
static_assert(daysFromCivil(10'000, 1, 1) + UnixEpochDayNumber == static_cast<std::int64_t>(MaxDayNumber));

// Beyond this a double no longer holds whole milliseconds exactly, and the count stays far from
// the limits of int64.
constexpr double MaxMilliseconds = 9'007'199'254'740'992.0; // 2^53

} // namespace

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && isLeapYear(year) ? 29 : Days[month - 1];
}

bool isValidDateTime(double x)
{
    // The date part is x truncated toward zero, so anything above the day before the first one
    // still falls on 01.01.0001. NaN fails both comparisons.
    return x > MinDayNumber - 1.0 && x < MaxDayNumber;
}

std::optional<double> encodeDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || day < 1 || day > daysInMonth(year, month))
        return std::nullopt;
    return static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                               UnixEpochDayNumber);
}

std::optional<double> encodeDate(const CivilDate& date)
{
    return encodeDate(date.year, date.month, date.day);
}

std::optional<CivilDate> decodeDate(double x)
{
    if (!isValidDateTime(x))
        return std::nullopt;
    const auto days = static_cast<std::int64_t>(std::trunc(x));
    return civilFromDays(days - UnixEpochDayNumber);
}

std::optional<std::int64_t> toMilliseconds(double x)
{
    const double scaled = std::round(x * static_cast<double>(MillisecondsPerDay));
    if (!(std::fabs(scaled) <= MaxMilliseconds)) // also false for NaN and infinities
        return std::nullopt;
    return static_cast<std::int64_t>(scaled);
}

std::optional<TimeOfDay> timeOfDay(double x)
{
    const auto ms = toMilliseconds(x);
    if (!ms)
        return std::nullopt;
    const std::int64_t inDay = (*ms < 0 ? -*ms : *ms) % MillisecondsPerDay;
    const auto total = static_cast<int>(inDay);
    return TimeOfDay{total / 3'600'000, total / 60'000 % 60, total / 1000 % 60, total % 1000};
}

std::optional<DateTimeParts> splitDateTime(double x)
{
    if (!isValidDateTime(x))
        return std::nullopt;
    double day = std::trunc(x);
    auto ms = toMilliseconds(std::fabs(x - day));
    if (!ms)
        return std::nullopt;
    if (*ms >= MillisecondsPerDay) {
        day += x < 0 ? -1.0 : 1.0;
        *ms -= MillisecondsPerDay;
    }
    return DateTimeParts{day, static_cast<double>(*ms) / static_cast<double>(MillisecondsPerDay)};
}

double encodeTime(int hour, int minute, int second, int millisecond)
{
    const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
    return ms / static_cast<double>(MillisecondsPerDay);
}

double nowDayNumber()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const double date = static_cast<double>(daysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                                          static_cast<unsigned>(local.tm_mday)) +
                                            UnixEpochDayNumber);
    return date + encodeTime(local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms < 0 ? 0 : ms));
}

double todayDayNumber()
{
    return std::trunc(nowDayNumber());
}

} // namespace ostrel
