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

// How a column of the station grid and of the history grid was drawn: its title (Windows-1251),
// its width in pixels of the 96-dpi layout, and the widest text it usually shows besides the
// title, which the grid's font must fit whole (empty where a long text may be cut, as a computer's
// name may).
struct ColumnDesign
{
    std::string_view title;
    int width = 0;
    std::string_view widest;
};

inline constexpr std::string_view MaxTimeText = "23:59:59";
inline constexpr std::string_view MaxMoneyText = "99999,99";

// The station table's columns, in the order of StationColumn.
inline constexpr std::array<ColumnDesign, StationColumnCount> StationColumns{{
    {"\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0", 77, {}}, // Компьютер
    {"IP", 91, "255.255.255.255"},
    {"\xD1\xF2\xE0\xF2\xF3\xF1", 109, words::WaitingGame},     // Статус
    {"\xD6\xE5\xED\xE0", 55, MaxMoneyText},                    // Цена
    {"\xCD\xE0\xF7\xE0\xEB\xEE", 54, MaxTimeText},             // Начало
    {"\xC2\xF0\xE5\xEC\xFF", 52, MaxTimeText},                 // Время
    {"\xCE\xEA\xEE\xED\xF7\xE0\xED\xE8\xE5", 54, MaxTimeText}, // Окончание
    {"\xCE\xF1\xF2\xE0\xEB\xEE\xF1\xFC", 53, MaxTimeText},     // Осталось
    {"\xD1\xF3\xEC\xEC\xE0", 55, MaxMoneyText},                // Сумма
}};
static_assert(StationColumns.size() == StationColumnCount && ColSum + 1 == StationColumnCount);

// The station table's column titles; the history table shows the same nine and "Коммент.".
inline constexpr std::array<std::string_view, StationColumnCount> StationHeaders = [] {
    std::array<std::string_view, StationColumnCount> titles{};
    for (std::size_t c = 0; c < titles.size(); ++c)
        titles[c] = StationColumns[c].title;
    return titles;
}();
inline constexpr std::string_view CommentHeader = "\xCA\xEE\xEC\xEC\xE5\xED\xF2."; // Коммент.

// The history grid's columns: the station table's titles in a narrower layout, and the comment.
inline constexpr std::array<ColumnDesign, HistoryColumnCount> HistoryColumns{{
    {StationHeaders[ColComputer], 56, {}},
    {StationHeaders[ColAddress], 68, "192.168.100.100"},
    {StationHeaders[ColStatus], 60, {}},
    {StationHeaders[ColPrice], 47, MaxMoneyText},
    {StationHeaders[ColStart], 46, MaxTimeText},
    {StationHeaders[ColElapsed], 44, MaxTimeText},
    {StationHeaders[ColFinish], 47, MaxTimeText},
    {StationHeaders[ColLeft], 45, MaxTimeText},
    {StationHeaders[ColSum], 49, MaxMoneyText},
    {CommentHeader, 33, words::Reset},
}};
static_assert(HistoryColumns.size() == HistoryColumnCount && HistoryColComment + 1 == HistoryColumnCount);

} // namespace ostrel
