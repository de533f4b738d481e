#pragma once

#include <optional>
#include <string_view>

namespace ostrel {

// Which of the interval dialog's "+" and "-" is down.
enum class IntervalSign
{
    Plus,
    Minus,
};

// m whole minutes as a time span in days. The hours wrap at 24, so 1440 minutes give 0 and 1430
// give 23 h 50 min. A negative m counts as 0.
double IntervalToTime(int m);

// The new whole length of a game session, in days, from the row's "Время" (time used) and
// "Осталось" (time left) texts and the interval the operator entered. With nothing used yet the
// interval is the length. Otherwise the interval lengthens ("+") or shortens ("-") the whole
// length: the two cells' sum taken to the nearest whole minute, as each cell is cut to whole
// seconds. Shortening never cuts the game below the time already played, rounded up to a whole
// minute, so a station is never told that its game was shorter than what it has run. nullopt when
// either text cannot be read as a time: nothing is to be sent. Reckoned in whole milliseconds.
std::optional<double> gameTime(std::string_view elapsed, std::string_view left, IntervalSign sign, int interval);

} // namespace ostrel
