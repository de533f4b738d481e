#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

// The hall's menu, windows and alerts, UTF-8.
namespace hall {
inline constexpr std::string_view Menu = "Зал";
inline constexpr std::string_view DroppedItem = "Отключенные компьютеры…";
inline constexpr std::string_view SummaryItem = "Сводка…";
inline constexpr std::string_view DroppedTitle = "Отключенные компьютеры";
inline constexpr std::string_view SummaryTitle = "Сводка";
inline constexpr std::string_view DroppedAtHeader = "Отключен";
inline constexpr std::string_view ByOperator = "выключен оператором"; // after the time of the drop
inline constexpr std::string_view TariffHeader = "Тариф";
inline constexpr std::string_view RemoveOne = "Убрать";
inline constexpr std::string_view RemoveAll = "Убрать все";
inline constexpr std::string_view Connected = "Подключено";
inline constexpr std::string_view Paid = "Повременная оплата";
inline constexpr std::string_view Game = "Игра";
inline constexpr std::string_view Waiting = "Ожидание";
inline constexpr std::string_view Free = "Свободно";
inline constexpr std::string_view Closed = "Закрыто";
inline constexpr std::string_view Unloaded = "Выгружено";
inline constexpr std::string_view Sessions = "Сеансов за сегодня";
inline constexpr std::string_view Logged = "Выручка за сегодня";
inline constexpr std::string_view Running = "Идущие сеансы";
inline constexpr std::string_view Total = "Итого";
inline constexpr std::string_view LogReading = "Журнал читается…";
inline constexpr std::string_view LogUnread = "Журнал прочитан не полностью";
} // namespace hall

// Alert texts, UTF-8; names and tariffs are given in UTF-8, sums as their cells show them.
// "Отключился Comp-3: Игра, сумма 12,00"
std::string droppedAlertText(std::string_view computer, std::string_view tariff, std::string_view sum);
// "Отключились сразу 7 компьютеров" (the count as a number, the word in the form that follows it)
std::string powerCutAlertText(int count);

// The alert after a start with sessions from before: "При остановке сервера шли сеансы: 3; они ждут
// свои компьютеры".
std::string returnAlertText(std::size_t sessions);
// A waiting session's time until it is logged "Reset", as the dropped stations' window shows it:
// "ждет еще 1:58".
std::string awaitingReturnText(int seconds);

// "Comp-3: игра заканчивается, осталось 0:05:00"
std::string timeLowAlertText(std::string_view computer, std::string_view left);

} // namespace ostrel
