#include "app/UnloadQuestion.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

TEST(UnloadQuestion, KeepsItsTextAndCountsRunningSessionsBelowIt)
{
    const std::string question = "Вы уверены что хотите выгрузить сервер интернет-салона?";
    EXPECT_EQ(unloadQuestion(0), question);
    EXPECT_EQ(unloadQuestion(-1), question);
    EXPECT_EQ(unloadQuestion(3), question + "\n\nСейчас идут сеансы на компьютерах: 3");
    EXPECT_EQ(unloadQuestion(0, true), question);
    EXPECT_EQ(unloadQuestion(2, true), question + "\n\nСейчас идут сеансы на компьютерах: 2\n"
                                                  "Они будут закрыты при следующем запуске сервера.");
}

} // namespace
} // namespace ostrel
