#pragma once

#include "core/RowTable.h"
#include "core/StationRow.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The station table: row 0 holds the headers, rows 1..rowCount()-2 the stations in ascending byte
// order of their computer names, and the last row is always blank. Cells are Windows-1251 bytes.
// It takes no lock itself: every caller holds StationTableMutex.
class StationTable : public RowTable<StationRow>
{
public:
    const std::string& cell(int r, int c) const;
    void setCell(int r, int c, std::string text); // station rows only (1..rowCount()-2), never the name

    // First row (1..rowCount()-1) whose computer name equals `name` byte for byte; an empty name never matches.
    std::optional<int> FindStationRow(std::string_view name) const;

    // Inserts the station at its sorted place with status "Cвободно" (a row of that name is reused in
    // place, columns 0..2 rewritten). Returns its row, or nullopt for an empty name, which the table refuses.
    std::optional<int> AddStationRow(std::string_view name, std::string_view address);

    // Removes the first row of that name and closes the gap; false when there is none.
    bool RemoveStationRow(std::string_view name);
};

} // namespace ostrel
