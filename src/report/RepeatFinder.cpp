#include "report/RepeatFinder.h"

#include "core/LittleEndian.h"

namespace ostrel {

bool RepeatFinder::take(const LogScanEntry& entry)
{
    // The record's numbers are stored plain and little-endian at the start of the record.
    const Figures figures{entry.closedAt, readLe<double>(entry.bytes, 8), readLe<double>(entry.bytes, 16),
                          readLe<double>(entry.bytes, 32), readLe<double>(entry.bytes, 40)};
    const std::string_view station = logRecordStation(entry.bytes, m_key);
    const auto it = m_last.find(station);
    if (it == m_last.end()) {
        m_last.emplace(std::string(station), figures);
        return false;
    }
    const Figures& previous = it->second;
    const double gap = figures.closedAt - previous.closedAt;
    const bool repeat = gap >= 0 && gap < 1.0 && figures.start == previous.start && figures.finish == previous.finish &&
                        figures.price == previous.price && figures.sum == previous.sum;
    it->second = figures;
    return repeat;
}

void RepeatFinder::forget(const LogScanEntry& entry)
{
    if (m_last.empty())
        return;
    if (const auto it = m_last.find(logRecordStation(entry.bytes, m_key)); it != m_last.end())
        m_last.erase(it);
}

} // namespace ostrel
