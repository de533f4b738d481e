#include "log/HourlyLoad.h"

#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

const double Day = *encodeDate(2026, 12, 8);

double at(int h, int m = 0, int s = 0)
{
    return Day + encodeTime(h, m, s);
}

TEST(HourlyLoad, TakingsByTheClosingHourAndTheMostBusyAtOnce)
{
    struct Session
    {
        double begin;
        double end;
        double sum;
        bool counted = true;
    };
    struct Case
    {
        const char* name;
        std::vector<Session> sessions;
        std::vector<std::pair<int, double>> takings; // hour, sum
        std::vector<std::pair<int, int>> busy;       // hour, stations
    };
    const Case cases[] = {
        {"one session within an hour", {{at(10, 10), at(10, 50), 30}}, {{10, 30}}, {{10, 1}, {11, 0}, {9, 0}}},
        {"ending on the hour stays in it", {{at(10, 0), at(11, 0), 60}}, {{11, 60}}, {{10, 1}, {11, 0}}},
        {"across hours", {{at(9, 30), at(12, 15), 90}}, {{12, 90}}, {{9, 1}, {10, 1}, {11, 1}, {12, 1}, {13, 0}}},
        {"one after the other is one at a time",
         {{at(10, 0), at(10, 30), 10}, {at(10, 30), at(11, 0), 20}},
         {{10, 10}, {11, 20}},
         {{10, 1}}},
        {"overlapping",
         {{at(10, 0), at(10, 40), 10}, {at(10, 20), at(11, 0), 20}, {at(10, 50), at(11, 30), 5}},
         {{10, 10}, {11, 25}},
         {{10, 2}, {11, 1}}},
        {"a repeat counts neither money nor a station",
         {{at(10, 0), at(10, 40), 10}, {at(10, 0), at(10, 40), 10, false}},
         {{10, 10}},
         {{10, 1}}},
        {"before the day", {{at(-2), at(0, 30), 50}}, {{0, 50}}, {{0, 1}, {23, 0}, {22, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HourlyLoad load(Day, Day + 1);
        for (const Session& s : c.sessions)
            load.addSession(s.end, s.end - s.begin, s.sum, s.counted);
        const HourlyFigures f = load.figures();
        for (const auto& [hour, sum] : c.takings)
            EXPECT_DOUBLE_EQ(f.takings[static_cast<std::size_t>(hour)], sum) << hour;
        for (const auto& [hour, busy] : c.busy)
            EXPECT_EQ(f.busy[static_cast<std::size_t>(hour)], busy) << hour;
    }
}

TEST(HourlyLoad, RunningSessionsAreBusyUpToNowAndOutsideThePeriodIsLeftOut)
{
    HourlyLoad load(Day, Day + 1);
    load.addRunning(at(13, 5), at(14, 10));
    load.addSession(Day + 1 + encodeTime(0, 10, 0), encodeTime(0, 5, 0), 100); // tomorrow
    const HourlyFigures f = load.figures();
    EXPECT_EQ(f.busy[13], 1);
    EXPECT_EQ(f.busy[14], 1);
    EXPECT_EQ(f.busy[15], 0);
    EXPECT_EQ(f.busy[0], 0);
    EXPECT_DOUBLE_EQ(f.takings[0], 0);
}

} // namespace
} // namespace ostrel
