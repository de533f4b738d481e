#include "app/UnloadQuestion.h"

namespace ostrel {

std::string unloadQuestion(int runningSessions, bool settledAtNextStart)
{
    std::string text = "Вы уверены что хотите выгрузить сервер интернет-салона?";
    if (runningSessions > 0) {
        text += "\n\nСейчас идут сеансы на компьютерах: " + std::to_string(runningSessions);
        if (settledAtNextStart)
            text += "\nОни будут закрыты при следующем запуске сервера.";
    }
    return text;
}

} // namespace ostrel
