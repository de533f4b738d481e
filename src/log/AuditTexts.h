#pragma once

#include <string_view>

namespace ostrel {

// The audit trail of commands: its window, its header and its words, UTF-8.
namespace audit {
inline constexpr std::string_view MenuItem = "Журнал команд…";
inline constexpr std::string_view Title = "Журнал команд";
inline constexpr std::string_view Header =
    "Дата и время;Пользователь;Компьютер;Адрес;Команда;Тариф;Цена;Минуты;Результат";
inline constexpr std::string_view Sent = "отправлена";
inline constexpr std::string_view NoConnection = "нет подключения";
inline constexpr std::string_view NotDelivered = "не доставлена";
inline constexpr std::string_view Automatic = "автоматически"; // the user of a command the server gave itself
inline constexpr std::string_view Reading = "Журнал команд читается…";
inline constexpr std::string_view Empty = "Команд ещё не было";
inline constexpr std::string_view Unreadable = "Журнал команд не читается";
inline constexpr std::string_view Refresh = "Обновить";
inline constexpr std::string_view Damaged = "(строка повреждена)";
// Commands in words: the menu's own captions (menu::) for the station commands, and these for the
// tariff commands, whose menu items carry the tariff's name.
inline constexpr std::string_view StartPaid = "Повременная оплата";
inline constexpr std::string_view WaitPaid = "Ожидание: повременная оплата";
inline constexpr std::string_view StartGame = "Игра";
inline constexpr std::string_view WaitGame = "Ожидание: игра";
inline constexpr std::string_view OtherCommand = "Команда "; // followed by its code
} // namespace audit

} // namespace ostrel
