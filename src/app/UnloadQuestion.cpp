#include "app/UnloadQuestion.h"

namespace ostrel {

std::string unloadQuestion(int runningSessions)
{
    std::string text = "Вы уверены что хотите выгрузить сервер интернет-салона?";
    if (runningSessions > 0)
        text += "\n\nСейчас идут сеансы на компьютерах: " + std::to_string(runningSessions);
    return text;
}

} // namespace ostrel
