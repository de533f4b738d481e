#include "log/HistoryTable.h"

namespace ostrel {

namespace {

// The station table's nine column titles and the comment column, in Windows-1251.
const HistoryRow HistoryHeaders{
    "\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0", // Компьютер
    "IP",
    "\xD1\xF2\xE0\xF2\xF3\xF1",             // Статус
    "\xD6\xE5\xED\xE0",                     // Цена
    "\xCD\xE0\xF7\xE0\xEB\xEE",             // Начало
    "\xC2\xF0\xE5\xEC\xFF",                 // Время
    "\xCE\xEA\xEE\xED\xF7\xE0\xED\xE8\xE5", // Окончание
    "\xCE\xF1\xF2\xE0\xEB\xEE\xF1\xFC",     // Осталось
    "\xD1\xF3\xEC\xEC\xE0",                 // Сумма
    "\xCA\xEE\xEC\xEC\xE5\xED\xF2.",        // Коммент.
};

} // namespace

HistoryTable::HistoryTable() : m_rows{HistoryHeaders, HistoryRow{}} {}

std::optional<HistoryRow> HistoryTable::newest() const
{
    if (m_rows.size() <= 2)
        return std::nullopt;
    return m_rows[m_rows.size() - 2];
}

void HistoryTable::fillSpare(const StationRow& row, std::string_view comment)
{
    HistoryRow& spare = m_rows.back();
    for (int c = 0; c < StationColumnCount; ++c)
        spare[static_cast<std::size_t>(c)] = row[static_cast<std::size_t>(c)];
    spare[HistoryColComment] = std::string(comment);
    ++m_version;
}

void HistoryTable::grow()
{
    m_rows.emplace_back();
    ++m_version;
}

} // namespace ostrel
