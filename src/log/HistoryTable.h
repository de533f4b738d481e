#pragma once

#include "core/RowTable.h"
#include "core/StationRow.h"

#include <optional>

namespace ostrel {

// The history table: row 0 holds the headers, rows 1..rowCount()-2 the sessions closed since start
// (oldest first), and the last row is the spare row that the next closed session fills. Working
// state, not only a display: resumption reads its newest row. Callers hold StationTableMutex.
class HistoryTable : public RowTable<HistoryRow>
{
public:
    HistoryTable(); // headers and the spare row: rowCount() == 2

    // The newest closed session (row rowCount()-2), or nullopt when none was closed.
    std::optional<HistoryRow> newest() const;

    // Copies a station row and a comment into the spare row; grow() then makes it the newest session.
    void fillSpare(const StationRow& row, std::string_view comment);
    void grow();
};

} // namespace ostrel
