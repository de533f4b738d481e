#include "stations/LiveSummary.h"

#include "core/DateTime.h"
#include "log/SessionLog.h"

#include <cmath>

namespace ostrel {

LiveSummary::LiveSummary(SessionLog& log, Clock clock)
    : m_log(log), m_clock(clock ? std::move(clock) : Clock(nowDayNumber)), m_summary(m_clock())
{}

LiveSummary::~LiveSummary()
{
    if (m_started)
        m_log.removeObserver(*this);
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
}

void LiveSummary::wake()
{
    if (m_wake)
        m_wake();
}

void LiveSummary::start()
{
    if (m_started)
        return;
    m_started = true;
    // Following begins before the length is taken: an append is then either below the length and
    // read, or above it and followed, never lost between the two.
    m_log.addObserver(*this);
    m_reader = std::thread([this] { read(); });
}

void LiveSummary::read()
{
    const auto length = m_log.stableLength();
    std::uint64_t limit = 0;
    double day;
    {
        std::scoped_lock hold(m_lock);
        day = m_summary.day();
    }
    DaySummary fresh(day);
    LogScanResult result;
    if (length) {
        limit = *length;
        // Only the day before today can hold a record that today's one repeats; older records
        // are passed over without decoding their texts.
        result = scanLogFile(
            m_log.path(),
            [&](const LogScanEntry& entry) {
                if (m_stop)
                    return false;
                if (std::isfinite(entry.closedAt) && entry.closedAt >= day - 1.0)
                    fresh.add(decodeLogRecord(entry.bytes));
                return true;
            },
            limit);
    } else {
        result.status = LogScanStatus::Missing;
    }
    {
        std::scoped_lock hold(m_lock);
        for (const auto& [record, offset] : m_pending) {
            if (offset >= limit)
                fresh.add(record);
        }
        m_pending.clear();
        fresh.advanceTo(m_summary.day());
        m_summary = std::move(fresh);
        m_loaded = result.status;
        m_recordsRead = result.records;
    }
    wake();
}

std::optional<LogScanStatus> LiveSummary::loaded() const
{
    std::scoped_lock hold(m_lock);
    return m_loaded;
}

std::uint64_t LiveSummary::recordsRead() const
{
    std::scoped_lock hold(m_lock);
    return m_recordsRead;
}

SummaryFigures LiveSummary::figures(const std::vector<StationRow>& stationRows)
{
    const double now = m_clock();
    std::scoped_lock hold(m_lock);
    m_summary.advanceTo(now);
    return m_summary.figures(stationRows, now);
}

void LiveSummary::sessionLogged(const SessionLogRecord& record, std::uint64_t offset)
{
    {
        std::scoped_lock hold(m_lock);
        if (!m_loaded) {
            m_pending.emplace_back(record, offset);
            return;
        }
        m_summary.add(record);
    }
    wake();
}

} // namespace ostrel
