#pragma once

#include "core/StationRow.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

// The station a command menu was opened for: its computer name and address as the row showed them.
struct StationKey
{
    std::string name;    // column 0, Windows-1251
    std::string address; // column 1, dotted decimal

    friend bool operator==(const StationKey&, const StationKey&) = default;
};

// Read access to the station table for the main thread, which keeps no copy of its own. The
// station table belongs to the layer above; it comes in through two functions, which this class
// calls only while it holds StationTableMutex, and only for the moment it copies a row.
class StationRows
{
public:
    using RowCount = std::function<int()>;
    using Row = std::function<StationRow(int)>;

    StationRows(RowCount rowCount, Row row);

    // A view of any table with rowCount() and row(r), such as the station table; the table must
    // outlive the view.
    template <class Table> static StationRows of(const Table& table)
    {
        return StationRows([&table] { return table.rowCount(); }, [&table](int r) { return StationRow(table.row(r)); });
    }

    // A copy of the first station row that still shows this computer name and address; nullopt
    // once the station is gone.
    std::optional<StationRow> find(const StationKey& station) const;

    // How many station rows hold a running session (their "Сумма" is filled), plus what `alsoRunning`
    // counts under the same hold of the table's lock, for sessions that run where no row shows them.
    int runningSessions(const std::function<int()>& alsoRunning = {}) const;

    // find() for many stations in one pass over the table, in the order asked: a room of stations
    // must not cost a scan of the table per station.
    std::vector<std::optional<StationRow>> findAll(const std::vector<StationKey>& stations) const;

    // The stations whose rows `which` accepts, in table order.
    std::vector<StationKey> select(const std::function<bool(const StationRow&)>& which) const;

private:
    RowCount m_rowCount;
    Row m_row;
};

} // namespace ostrel
