#include "log/HourlyLoad.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace ostrel {

namespace {

// A session's stay is counted for at most this long: a damaged duration must not make one session
// fill a year of hours.
constexpr double LongestStay = 2.0; // days

// Day numbers of the server's dates are positive (from 1900 on): the hour of a moment to the
// millisecond.
int hourOfDay(double when)
{
    const auto ms = std::llround(std::fmod(when, 1.0) * 86'400'000.0);
    return static_cast<int>(std::clamp<long long>(ms / 3'600'000, 0, 23));
}

} // namespace

void HourlyLoad::addSession(double closedAt, double duration, double sum, bool counted)
{
    if (!counted || !std::isfinite(closedAt) || closedAt < m_from || closedAt >= m_until)
        return;
    if (std::isfinite(sum))
        m_takings[static_cast<std::size_t>(hourOfDay(closedAt))] += sum;
    if (std::isfinite(duration) && duration >= 0)
        addBusy(closedAt - std::min(duration, LongestStay), closedAt);
}

void HourlyLoad::addRunning(double start, double now)
{
    if (std::isfinite(start) && std::isfinite(now) && start <= now)
        addBusy(std::max(start, now - LongestStay), now);
}

void HourlyLoad::addBusy(double from, double until)
{
    from = std::max(from, m_from);
    until = std::min(until, m_until);
    if (from < until)
        m_busy.push_back({from, until});
}

HourlyFigures HourlyLoad::figures() const
{
    HourlyFigures out;
    out.takings = m_takings;
    // Moments in whole milliseconds, so that a session ending on the hour does not spill into the
    // next one by the last bit of a double.
    constexpr double MsPerDay = 86'400'000.0;
    constexpr std::int64_t MsPerHour = 3'600'000;
    const auto ms = [](double when) { return static_cast<std::int64_t>(std::llround(when * MsPerDay)); };
    // Every start and end in time order, an end before a start at the same moment: between two
    // such moments the count of busy stations holds, and every hour that stretch touches saw it.
    std::vector<std::pair<std::int64_t, int>> moments;
    moments.reserve(m_busy.size() * 2);
    for (const Busy& b : m_busy) {
        moments.emplace_back(ms(b.from), +1);
        moments.emplace_back(ms(b.until), -1);
    }
    std::ranges::sort(moments);
    int busy = 0;
    for (std::size_t i = 0; i + 1 < moments.size(); ++i) {
        busy += moments[i].second;
        const std::int64_t from = moments[i].first;
        const std::int64_t until = moments[i + 1].first;
        if (busy <= 0 || until <= from)
            continue;
        // The hours [from, until) touches, at most a day's worth: past that every hour is covered.
        const std::int64_t first = from / MsPerHour;
        const std::int64_t last = std::min((until - 1) / MsPerHour, first + 23);
        for (std::int64_t h = first; h <= last; ++h) {
            int& most = out.busy[static_cast<std::size_t>((h % 24 + 24) % 24)];
            most = std::max(most, busy);
        }
    }
    return out;
}

} // namespace ostrel
