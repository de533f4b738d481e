#include "commands/GameTime.h"

#include "core/DateTime.h"
#include "core/Texts.h"

#include <algorithm>
#include <cstdint>

namespace ostrel {

namespace {

constexpr std::int64_t MillisecondsPerMinute = 60'000;

std::int64_t intervalMilliseconds(int m)
{
    if (m < 0)
        m = 0;
    const int hours = (m / 60) % 24;
    const int minutes = m % 60;
    return (static_cast<std::int64_t>(hours) * 60 + minutes) * MillisecondsPerMinute;
}

double fromMilliseconds(std::int64_t ms)
{
    return static_cast<double>(ms) / static_cast<double>(MillisecondsPerDay);
}

} // namespace

double IntervalToTime(int m)
{
    return fromMilliseconds(intervalMilliseconds(m));
}

std::optional<double> gameTime(std::string_view elapsed, std::string_view left, IntervalSign sign, int interval)
{
    if (elapsed.empty())
        return IntervalToTime(interval);
    const auto used = parseTime(elapsed);
    const auto remaining = parseTime(left);
    if (!used || !remaining)
        return std::nullopt;
    const auto usedMs = toMilliseconds(*used);
    const auto remainingMs = toMilliseconds(*remaining);
    if (!usedMs || !remainingMs)
        return std::nullopt;
    // The cells are cut to whole seconds while the game's length is whole minutes: the nearest
    // minute is the length the station was given.
    const std::int64_t base =
        (*usedMs + *remainingMs + MillisecondsPerMinute / 2) / MillisecondsPerMinute * MillisecondsPerMinute;
    const std::int64_t d = intervalMilliseconds(interval);
    if (sign == IntervalSign::Plus)
        return fromMilliseconds(base + d);
    const std::int64_t playedMinutes = (*usedMs + MillisecondsPerMinute - 1) / MillisecondsPerMinute;
    const std::int64_t floor = std::min(base, playedMinutes * MillisecondsPerMinute);
    return fromMilliseconds(std::max(base - d, floor));
}

} // namespace ostrel
