#include "commands/StationRows.h"

#include "core/StationTableMutex.h"

#include <mutex>
#include <utility>

namespace ostrel {

StationRows::StationRows(RowCount rowCount, Row row) : m_rowCount(std::move(rowCount)), m_row(std::move(row)) {}

std::optional<StationRow> StationRows::find(const StationKey& station) const
{
    std::scoped_lock hold(StationTableMutex);
    const int last = m_rowCount() - 2;
    for (int r = 1; r <= last; ++r) {
        StationRow row = m_row(r);
        if (row[ColComputer] == station.name && row[ColAddress] == station.address)
            return row;
    }
    return std::nullopt;
}

int StationRows::runningSessions() const
{
    std::scoped_lock hold(StationTableMutex);
    const int last = m_rowCount() - 2;
    int running = 0;
    for (int r = 1; r <= last; ++r)
        running += m_row(r)[ColSum].empty() ? 0 : 1;
    return running;
}

} // namespace ostrel
