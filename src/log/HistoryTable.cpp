#include "log/HistoryTable.h"

namespace ostrel {

HistoryTable::HistoryTable()
    : RowTable([] {
          HistoryRow titles;
          titles[HistoryColComment] = CommentHeader;
          return titles;
      }())
{}

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
    touch();
}

void HistoryTable::grow()
{
    m_rows.emplace_back();
    touch();
}

} // namespace ostrel
