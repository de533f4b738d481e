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
        {"0:30:00", "0:15:00", minus, 60, 0.0},         // shorter than nothing: 0
        {"0:30:00", "0:15:00", minus, 45, 0.0},         // exactly the base
        {"0:30:00", "0:15:00", minus, 30, 15 / 1440.0}, // base - 30
        {"", "", minus, 90, 0.0625},                    // nothing used yet: the interval itself
        {"", "garbage", plus, 1440, 0.0},               // the interval wraps at a day
        {"23:00:00", "2:00:00", plus, 60, 26 / 24.0},   // may exceed a day
        {"0:30:00", "", plus, 30, std::nullopt},        // no time left shown: unreadable
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
