#pragma once

#include <cstdint>
#include <optional>

namespace ostrel {

// Date-times are day numbers: a double counting days since 30 December 1899 00:00, the fraction
// being the time of day. A time span is a double in days (one minute is 1/1440).
// Nothing here converts a non-finite or out-of-range double to an integer.

inline constexpr double MinutesPerDay = 1440.0;
inline constexpr std::int64_t MillisecondsPerDay = 86'400'000;

// The range of calendar dates the server shows: 01.01.0001 to 31.12.9999.
inline constexpr double MinDayNumber = -693'593.0;
inline constexpr double MaxDayNumber = 2'958'466.0; // exclusive: 01.01.10000

struct CivilDate
{
    int year = 0;  // 1..9999
    int month = 0; // 1..12
    int day = 0;   // 1..31
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

struct TimeOfDay
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

bool isLeapYear(int year);
int daysInMonth(int year, int month); // 0 for a month outside 1..12

// True when x is finite and its date lies in 0001..9999.
bool isValidDateTime(double x);

// nullopt for a year outside 1..9999, a month outside 1..12 or a day outside the month.
std::optional<double> encodeDate(int year, int month, int day);
std::optional<double> encodeDate(const CivilDate& date);

// The date part of x (whole days, truncated toward zero); nullopt when !isValidDateTime(x).
std::optional<CivilDate> decodeDate(double x);

// The time of day of x by the millisecond rule: x in milliseconds rounded to the nearest, the
// absolute value taken modulo one day. So whole days are dropped and a negative x gives the time
// of day of its absolute value. nullopt for a non-finite x or one too large to count in milliseconds.
std::optional<TimeOfDay> timeOfDay(double x);

// The whole milliseconds of x (rounded to the nearest), nullopt when not finite or out of range.
std::optional<std::int64_t> toMilliseconds(double x);

// x split into its date (whole days) and its time of day (a fraction of a day), after rounding to
// the millisecond: 23:59:59.9996 is the next day at 0:00:00, not its own date with the time wrapped
// round. nullopt when !isValidDateTime(x).
struct DateTimeParts
{
    double day = 0;
    double fraction = 0;
};
std::optional<DateTimeParts> splitDateTime(double x);

double encodeTime(int hour, int minute, int second, int millisecond = 0);

// The local date and time now, and today's date at 00:00, as day numbers.
double nowDayNumber();
double todayDayNumber();

} // namespace ostrel
