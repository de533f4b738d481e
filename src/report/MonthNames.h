#pragma once

#include <array>
#include <string_view>

namespace ostrel {

// Month names for the calendar picker and the period dialog, indexed 1..12 (index 0 unused).
// UTF-8: they are only ever shown by Qt.
inline constexpr std::array<std::string_view, 13> MonthNames{
    "",     "Январь", "Февраль",  "Март",    "Апрель", "Май",     "Июнь",
    "Июль", "Август", "Сентябрь", "Октябрь", "Ноябрь", "Декабрь",
};

} // namespace ostrel
