#include "stations/DroppedStations.h"

#include <algorithm>

namespace ostrel {

void DroppedStations::dropped(const StationRow& row, double at, bool byOperator)
{
    if (row[ColComputer].empty())
        return;
    remove(row[ColComputer]);
    DroppedStation entry;
    entry.computer = row[ColComputer];
    entry.address = row[ColAddress];
    entry.droppedAt = at;
    entry.byOperator = byOperator;
    // The sum tells a session from a state without one, as the disconnect handling's log entry does.
    if (!row[ColSum].empty()) {
        entry.tariff = row[ColStatus];
        entry.price = row[ColPrice];
        entry.sum = row[ColSum];
        entry.left = row[ColLeft];
    }
    m_entries.push_back(std::move(entry));
    ++m_version;
}

bool DroppedStations::reconnected(std::string_view computer)
{
    return remove(computer);
}

bool DroppedStations::remove(std::string_view computer)
{
    const auto removed =
        std::erase_if(m_entries, [computer](const DroppedStation& entry) { return entry.computer == computer; });
    if (removed == 0)
        return false;
    ++m_version;
    return true;
}

void DroppedStations::clear()
{
    if (m_entries.empty())
        return;
    m_entries.clear();
    ++m_version;
}

} // namespace ostrel
