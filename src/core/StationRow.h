#pragma once

#include <array>
#include <string>
#include <string_view>

namespace ostrel {

// The columns of the station table; the history table has the same nine and a comment column.
enum StationColumn : int
{
    ColComputer = 0,
    ColAddress = 1,
    ColStatus = 2,
    ColPrice = 3,
    ColStart = 4,
    ColElapsed = 5,
    ColFinish = 6,
    ColLeft = 7,
    ColSum = 8,
};
inline constexpr int StationColumnCount = 9;
inline constexpr int HistoryColumnCount = 10;
inline constexpr int HistoryColComment = 9;

// One row of cell texts, Windows-1251 bytes.
using StationRow = std::array<std::string, StationColumnCount>;
using HistoryRow = std::array<std::string, HistoryColumnCount>;

// Byte-exact texts, in Windows-1251. Two status words carry a Latin capital C (0x43):
// "Cвободно" at its start and "Ожидание CЧ" after the blank; every other letter is Cyrillic.
namespace words {
inline constexpr std::string_view Free = "\x43\xE2\xEE\xE1\xEE\xE4\xED\xEE";                    // Cвободно
inline constexpr std::string_view Unloaded = "\xC2\xFB\xE3\xF0\xF3\xE6\xE5\xED";                // Выгружен
inline constexpr std::string_view Closed = "\xC7\xE0\xEA\xF0\xFB\xF2\xEE";                      // Закрыто
inline constexpr std::string_view WaitingPaid = "\xCE\xE6\xE8\xE4\xE0\xED\xE8\xE5\x20\x43\xD7"; // Ожидание CЧ
inline constexpr std::string_view WaitingGame = "\xCE\xE6\xE8\xE4\xE0\xED\xE8\xE5\x20\xC8\xE3\xF0\xE0"; // Ожидание Игра
inline constexpr std::string_view Ok = "Ok";
inline constexpr std::string_view Reset = "Reset";
} // namespace words

// What a station's row says it is doing, as the hall counts it: its status word first, then
// whether a sum is running (a session), then whether time is left (a game).
enum class StationState
{
    Unloaded,
    Closed,
    Waiting,
    Free,
    Paid,
    Game,
};

inline StationState stationState(const StationRow& row)
{
    const std::string& status = row[ColStatus];
    if (status == words::Unloaded)
        return StationState::Unloaded;
    if (status == words::Closed)
        return StationState::Closed;
    if (status == words::WaitingPaid || status == words::WaitingGame)
        return StationState::Waiting;
    if (row[ColSum].empty())
        return StationState::Free;
    return row[ColLeft].empty() ? StationState::Paid : StationState::Game;
}

// The station table's column titles; the history table shows the same nine and "Коммент.".
inline constexpr std::array<std::string_view, StationColumnCount> StationHeaders{
    "\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0", // Компьютер
    "IP",
    "\xD1\xF2\xE0\xF2\xF3\xF1",             // Статус
    "\xD6\xE5\xED\xE0",                     // Цена
    "\xCD\xE0\xF7\xE0\xEB\xEE",             // Начало
    "\xC2\xF0\xE5\xEC\xFF",                 // Время
    "\xCE\xEA\xEE\xED\xF7\xE0\xED\xE8\xE5", // Окончание
    "\xCE\xF1\xF2\xE0\xEB\xEE\xF1\xFC",     // Осталось
    "\xD1\xF3\xEC\xEC\xE0",                 // Сумма
};
inline constexpr std::string_view CommentHeader = "\xCA\xEE\xEC\xEC\xE5\xED\xF2."; // Коммент.

} // namespace ostrel
