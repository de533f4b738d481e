#include "stations/HallWatch.h"

#include "commands/ShutdownNotes.h"
#include "core/DateTime.h"

namespace ostrel {

HallWatch::HallWatch(AlertSettings settings, Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(nowDayNumber)), m_rules(settings)
{}

void HallWatch::wake()
{
    if (m_wake)
        m_wake();
}

void HallWatch::stationAdded(const StationRow& row)
{
    bool changed;
    {
        std::scoped_lock hold(m_lock);
        changed = m_dropped.reconnected(row[ColComputer]);
    }
    if (changed)
        wake();
}

void HallWatch::stationReported(const StationRow& row, const StationReport& report)
{
    bool changed;
    {
        std::scoped_lock hold(m_lock);
        changed = m_rules.reported(row, report);
    }
    if (changed)
        wake();
}

void HallWatch::stationDropped(const StationRow& row)
{
    const double now = m_clock();
    const bool byOperator = m_shutdowns && m_shutdowns->sentAway(row[ColAddress]);
    {
        std::scoped_lock hold(m_lock);
        m_dropped.dropped(row, now, byOperator);
        if (!byOperator) // neither a drop alert nor part of a power cut
            m_rules.dropped(row, now);
    }
    wake();
}

std::vector<DroppedStation> HallWatch::dropped() const
{
    std::scoped_lock hold(m_lock);
    return m_dropped.entries();
}

std::uint64_t HallWatch::droppedVersion() const
{
    std::scoped_lock hold(m_lock);
    return m_dropped.version();
}

void HallWatch::removeDropped(const std::string& computer)
{
    std::scoped_lock hold(m_lock);
    m_dropped.remove(computer);
}

void HallWatch::clearDropped()
{
    std::scoped_lock hold(m_lock);
    m_dropped.clear();
}

std::vector<HallAlert> HallWatch::takeAlerts()
{
    const double now = m_clock();
    std::scoped_lock hold(m_lock);
    return m_rules.take(now);
}

std::optional<double> HallWatch::burstClosesAt() const
{
    std::scoped_lock hold(m_lock);
    return m_rules.burstClosesAt();
}

std::vector<std::string> HallWatch::overrunStations() const
{
    std::scoped_lock hold(m_lock);
    return m_rules.overrunStations();
}

} // namespace ostrel
