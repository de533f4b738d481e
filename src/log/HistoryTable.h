#pragma once

#include "core/StationRow.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace ostrel {

// The history table: row 0 holds the headers, rows 1..rowCount()-2 the sessions closed since start
// (oldest first), and the last row is the spare row that the next closed session fills. Working
// state, not only a display: resumption reads its newest row. Callers hold StationTableMutex.
class HistoryTable
{
public:
    HistoryTable(); // headers and the spare row: rowCount() == 2

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const HistoryRow& row(int r) const { return m_rows.at(static_cast<std::size_t>(r)); }

    // The newest closed session (row rowCount()-2), or nullopt when none was closed.
    std::optional<HistoryRow> newest() const;

    // Copies a station row and a comment into the spare row; grow() then makes it the newest session.
    void fillSpare(const StationRow& row, std::string_view comment);
    void grow();

    std::uint64_t version() const { return m_version; }
    std::vector<HistoryRow> rows() const { return m_rows; }

private:
    std::vector<HistoryRow> m_rows;
    std::uint64_t m_version = 0;
};

} // namespace ostrel
