#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace ostrel {

// A period's sessions by the hour of the day: the sums logged, by the hour their session closed,
// and the most stations busy at once within each hour (over every day of the period).
struct HourlyFigures
{
    std::array<double, 24> takings{};
    std::array<int, 24> busy{};
    friend bool operator==(const HourlyFigures&, const HourlyFigures&) = default;
};

// Gathers the sessions of a period [from, until) (day numbers) for HourlyFigures.
class HourlyLoad
{
public:
    HourlyLoad() = default;
    HourlyLoad(double from, double until) : m_from(from), m_until(until) {}

    // A logged session: it was busy for `duration` (days) up to `closedAt`; `counted` false for a
    // repeated record, which is the same session again and adds neither money nor a station.
    void addSession(double closedAt, double duration, double sum, bool counted = true);
    // A session still running: busy from `start` to `now`, its sum not taken yet.
    void addRunning(double start, double now);

    HourlyFigures figures() const;

private:
    struct Busy
    {
        double from;
        double until;
    };
    void addBusy(double from, double until);

    double m_from = 0;
    double m_until = 0;
    std::array<double, 24> m_takings{};
    std::vector<Busy> m_busy;
};

} // namespace ostrel
