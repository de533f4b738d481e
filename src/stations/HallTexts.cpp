#include "stations/HallTexts.h"

#include "core/Texts.h"

#include <algorithm>

namespace ostrel {

std::string droppedAlertText(std::string_view computer, std::string_view tariff, std::string_view sum)
{
    std::string text = "Отключился ";
    text += computer;
    text += ": ";
    text += tariff;
    text += ", сумма ";
    text += sum;
    return text;
}

std::string powerCutAlertText(int count)
{
    const Plural form = pluralOf(static_cast<std::uint64_t>(count));
    return std::string(form == Plural::One ? "Отключился сразу " : "Отключились сразу ") + std::to_string(count) + " " +
           pick(form, "компьютер", "компьютера", "компьютеров");
}

std::string returnAlertText(std::size_t sessions)
{
    return "При остановке сервера шли сеансы: " + std::to_string(sessions) + "; они ждут свои компьютеры";
}

std::string awaitingReturnText(int seconds)
{
    const int s = std::max(0, seconds);
    return "ждет еще " + std::to_string(s / 60) + (s % 60 < 10 ? ":0" : ":") + std::to_string(s % 60);
}

std::string timeLowAlertText(std::string_view computer, std::string_view left)
{
    std::string text(computer);
    text += ": игра заканчивается, осталось ";
    text += left;
    return text;
}

} // namespace ostrel
