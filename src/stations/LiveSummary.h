#pragma once

#include "log/LogScan.h"
#include "log/SessionLogObserver.h"
#include "stations/DaySummary.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ostrel {

class SessionLog;

// The day's summary kept live: the session log is read once, on a thread of its own, when start()
// is called; from then on the log's appends are followed and the file is never read again.
class LiveSummary : public SessionLogObserver
{
public:
    using Clock = std::function<double()>; // local date-time as a day number

    explicit LiveSummary(SessionLog& log, Clock clock = {});
    ~LiveSummary() override; // stops and joins the reading; the log must outlive the summary
    LiveSummary(const LiveSummary&) = delete;
    LiveSummary& operator=(const LiveSummary&) = delete;

    // Called after the figures changed (the reading ended, a session was logged), on the thread
    // that changed them: it must only post. Set before start().
    void setWake(std::function<void()> wake) { m_wake = std::move(wake); }

    // Begins following the log and reads it; later calls do nothing.
    void start();
    bool started() const { return m_started; }
    // Set once the reading ended; how it ended.
    std::optional<LogScanStatus> loaded() const;
    std::uint64_t recordsRead() const;

    // Today's figures with the station table's rows as copied by the caller.
    SummaryFigures figures(const std::vector<StationRow>& stationRows);

    void sessionLogged(const SessionLogRecord& record, std::uint64_t offset) override;

private:
    void read();
    void wake();

    SessionLog& m_log;
    Clock m_clock;
    std::function<void()> m_wake;
    bool m_started = false;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;

    mutable std::mutex m_lock;
    DaySummary m_summary;
    std::optional<LogScanStatus> m_loaded;
    std::uint64_t m_recordsRead = 0;
    // Appends met while the reading runs, with their offsets: those below the length read are in it.
    std::vector<std::pair<SessionLogRecord, std::uint64_t>> m_pending;
};

} // namespace ostrel
