#include "log/HistoryTable.h"

namespace ostrel {

namespace {

HistoryRow historyHeaders()
{
    HistoryRow headers;
    for (int c = 0; c < StationColumnCount; ++c)
        headers[static_cast<std::size_t>(c)] = StationHeaders[static_cast<std::size_t>(c)];
    headers[HistoryColComment] = CommentHeader;
    return headers;
}

} // namespace

HistoryTable::HistoryTable() : m_rows{historyHeaders(), HistoryRow{}} {}

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
