#include "commands/GameTime.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace ostrel {
namespace {

TEST(IntervalToTime, WrapsHoursAtADay)
{
    const struct
    {
        int minutes;
        double days;
    } cases[] = {{0, 0.0}, {10, 10 / 1440.0}, {90, 0.0625}, {1430, 1430 / 1440.0}, {1440, 0.0}, {-5, 0.0}};
    for (const auto& c : cases)
        EXPECT_EQ(IntervalToTime(c.minutes), c.days) << c.minutes;
}

TEST(GameTime, LengthensOrShortensTheWholeSession)
{
    const auto plus = IntervalSign::Plus;
    const auto minus = IntervalSign::Minus;
    const struct
    {
        std::string elapsed, left;
        IntervalSign sign;
        int interval;
        std::optional<double> days;
    } cases[] = {
        {"0:30:00", "0:15:00", plus, 30, 75 / 1440.0},  // base 45 min + 30
        {"0:30:00", "0:15:00", minus, 60, 30 / 1440.0}, // never below what was played
        {"0:30:00", "0:15:00", minus, 45, 30 / 1440.0},
        {"0:30:00", "0:15:00", minus, 10, 35 / 1440.0}, // base - 10
        {"0:04:00", "0:56:00", minus, 999, 4 / 1440.0}, // 999 is taken as 16 h 39 min
        {"0:04:01", "0:55:59", minus, 120, 5 / 1440.0}, // played time rounded up to a whole minute
        {"0:04:30", "0:00:10", minus, 30, 5 / 1440.0},  // the length is whole minutes
        {"0:10:00", "0:09:59", plus, 10, 30 / 1440.0},  // two "+10" in a row: the cells lag a second
        {"0:10:00", "0:09:30", plus, 10, 30 / 1440.0},  // half a minute rounds up
        {"0:10:00", "0:09:29", plus, 10, 29 / 1440.0},
        {"0:10:00", "0:09:59", minus, 5, 15 / 1440.0},
        {"0:00:00", "0:10:00", minus, 30, 0.0},
        {"", "", minus, 90, 0.0625},                  // nothing used yet: the interval itself
        {"", "garbage", plus, 1440, 0.0},             // the interval wraps at a day
        {"23:00:00", "2:00:00", plus, 60, 26 / 24.0}, // may exceed a day
        {"0:30:00", "", plus, 30, std::nullopt},      // no time left shown: unreadable
        {"half", "0:15:00", plus, 30, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = gameTime(c.elapsed, c.left, c.sign, c.interval);
        ASSERT_EQ(got.has_value(), c.days.has_value()) << c.elapsed << " " << c.left << " " << c.interval;
        if (got) {
            EXPECT_EQ(*got, *c.days) << c.elapsed << " " << c.left << " " << c.interval;
        }
    }
}

} // namespace
} // namespace ostrel
