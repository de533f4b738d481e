#include "stations/HallTexts.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(HallTexts, PowerCutAlertAgreesWithItsNumber)
{
    const std::pair<int, const char*> cases[] = {
        {1, "Отключился сразу 1 компьютер"},      {3, "Отключились сразу 3 компьютера"},
        {5, "Отключились сразу 5 компьютеров"},   {11, "Отключились сразу 11 компьютеров"},
        {14, "Отключились сразу 14 компьютеров"}, {21, "Отключился сразу 21 компьютер"},
        {22, "Отключились сразу 22 компьютера"},  {111, "Отключились сразу 111 компьютеров"},
    };
    for (const auto& [count, text] : cases)
        EXPECT_EQ(powerCutAlertText(count), text) << count;
}

TEST(HallTexts, AWaitingSessionCountsDownInMinutesAndSeconds)
{
    const std::pair<int, const char*> cases[] = {{120, "ждет еще 2:00"},
                                                 {118, "ждет еще 1:58"},
                                                 {5, "ждет еще 0:05"},
                                                 {0, "ждет еще 0:00"},
                                                 {-3, "ждет еще 0:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(awaitingReturnText(seconds), text) << seconds;
    EXPECT_EQ(returnAlertText(3), "При остановке сервера шли сеансы: 3; они ждут свои компьютеры");
}

} // namespace
} // namespace ostrel
