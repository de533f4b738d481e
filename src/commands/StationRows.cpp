#include "commands/StationRows.h"

#include "core/StationTableMutex.h"

#include <mutex>
#include <unordered_map>
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

int StationRows::runningSessions(const std::function<int()>& alsoRunning) const
{
    std::scoped_lock hold(StationTableMutex);
    const int last = m_rowCount() - 2;
    int running = alsoRunning ? alsoRunning() : 0;
    for (int r = 1; r <= last; ++r)
        running += m_row(r)[ColSum].empty() ? 0 : 1;
    return running;
}

std::vector<std::optional<StationRow>> StationRows::findAll(const std::vector<StationKey>& stations) const
{
    // Name and address joined by a byte neither can hold.
    const auto joined = [](const std::string& name, const std::string& address) { return name + '\0' + address; };
    std::unordered_map<std::string, std::vector<std::size_t>> wanted;
    for (std::size_t i = 0; i < stations.size(); ++i)
        wanted[joined(stations[i].name, stations[i].address)].push_back(i);
    std::vector<std::optional<StationRow>> found(stations.size());
    std::scoped_lock hold(StationTableMutex);
    const int last = m_rowCount() - 2;
    for (int r = 1; r <= last && !wanted.empty(); ++r) {
        StationRow row = m_row(r);
        const auto it = wanted.find(joined(row[ColComputer], row[ColAddress]));
        if (it == wanted.end())
            continue;
        for (const std::size_t i : it->second)
            found[i] = row;
        wanted.erase(it); // the first row showing the station is the one find() gives
    }
    return found;
}

std::vector<StationKey> StationRows::select(const std::function<bool(const StationRow&)>& which) const
{
    std::vector<StationKey> chosen;
    std::scoped_lock hold(StationTableMutex);
    const int last = m_rowCount() - 2;
    for (int r = 1; r <= last; ++r) {
        StationRow row = m_row(r);
        if (which(row))
            chosen.push_back({std::move(row[ColComputer]), std::move(row[ColAddress])});
    }
    return chosen;
}

} // namespace ostrel
