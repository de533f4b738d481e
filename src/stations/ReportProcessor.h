#pragma once

#include "core/StationRow.h"
#include "log/SessionLog.h"
#include "stations/StationLink.h"
#include "stations/StationReport.h"
#include "stations/StationTable.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ostrel {

class HistoryTable;
class RunningSessions;
class ShutdownNotes;
class StationObserver;
class SessionLog;
class CommandTransport;
class TariffList;

struct ResumeSettings
{
    bool closeAfterReset = true; // no session is ever resumed
    bool waitAfterReset = true;  // a resumed session waits instead of running
    // 0: a station is resumed only when its "Reset" is the newest session logged of all. Above 0:
    // when its own newest session is a "Reset" logged less than this many minutes ago.
    int resumeMinutes = 0;
};

// Applies station reports to the station table and closes sessions into the log: the work of a
// the network thread and of the disconnect handling. Every public call takes StationTableMutex itself.
class ReportProcessor final : public StationReportSink
{
public:
    ReportProcessor(StationTable& table, HistoryTable& history, SessionLog& log, CommandTransport& transport,
                    const TariffList& prices, const TariffList& games, ResumeSettings settings);

    // Called after the mutex is released whenever the station or history table changed (not for a
    // report that rewrites the same texts); called on the thread that applied the change.
    void setChangedCallback(std::function<void()> changed) { m_changed = std::move(changed); }

    // Tells `observer` of every added row, applied report and dropped station from now on; it is
    // called under StationTableMutex on the thread doing the work. Not removable: an observer lives
    // as long as the processor.
    void addObserver(StationObserver& observer);

    // Applies one decoded report from `link`. A report with a non-finite or unshowable Start,
    // Finish or Price, or a running game's (code 5) Allowance, is dropped whole; so is one whose
    // link has been closed, or whose row went away in a nested disconnect. Returns true when the
    // row was written.
    bool applyReport(const StationLink& link, const StationReport& report) override;

    // The disconnect handling: logs a session whose sum is filled with "Reset" and removes the
    // station's row, even when the log could not be written (the station is gone either way). The
    // caller marks the link closed first, so that a report of it that obtains the mutex afterwards
    // is dropped instead of adding the row again.
    void stationDisconnected(const StationLink& link) override;

    // The running sessions' keeper, told of every row from now on; its sessions of the previous
    // run are settled by the first report of their station. Before the network thread starts.
    void setRunningSessions(RunningSessions* running) { m_running = running; }
    // The commands that sent stations away: a station that drops after the operator powered it off
    // or logged it off keeps its "Reset" and is not resumed when it comes back. Before the network
    // thread starts.
    void setShutdownNotes(ShutdownNotes* notes) { m_shutdowns = notes; }
    // Logs "Reset" for the sessions of the previous run whose station has not come back in time.
    void settleExpired();
    // With resumeMinutes set: what the log's last minutes say of each station's newest session,
    // so a restart does not forget whom to resume. Before the network thread starts.
    void seedResumptions(const std::string& logPath);

    // Counters for tests and benchmarks.
    std::uint64_t appliedReports() const { return m_applied; }
    std::uint64_t droppedReports() const { return m_dropped; }
    std::uint64_t failedLogs() const { return m_failedLogs; }       // LogSession calls that appended nothing
    std::uint64_t failedResumes() const { return m_failedResumes; } // ResumeSession calls that sent nothing

private:
    enum class Outcome
    {
        Applied,
        Dropped,
    };
    Outcome applyLocked(const StationLink& link, const StationReport& report);
    bool resumeIfReset(const StationLink& link, int row);
    // The disconnect handling under the mutex; true when the station's row was removed.
    bool disconnectLocked(const std::string& name);
    void settleWaiting(const std::string& name, const StationReport& report);
    // Appends the session to the log, and remembers it as its station's newest.
    LogResult logSession(const StationRow& row, std::string_view comment);
    struct NewestSession
    {
        HistoryRow row;
        double closedAt = 0;
    };

    StationTable& m_table;
    HistoryTable& m_history;
    SessionLog& m_log;
    CommandTransport& m_transport;
    const TariffList& m_prices;
    const TariffList& m_games;
    ResumeSettings m_settings;
    std::function<void()> m_changed;
    std::vector<StationObserver*> m_observers; // under StationTableMutex
    RunningSessions* m_running = nullptr;
    ShutdownNotes* m_shutdowns = nullptr;
    std::unordered_set<std::string> m_switchedOff; // computers dropped after a power-off or log-off; under the mutex
    std::unordered_map<std::string, NewestSession> m_newest; // by computer, with resumeMinutes; under the mutex
    bool m_applying = false;                                 // inside applyLocked, under the mutex
    std::vector<std::string> m_owedDisconnects;              // host names whose connection a send closed meanwhile
    std::uint64_t m_applied = 0;                             // written under StationTableMutex
    std::uint64_t m_dropped = 0;
    std::uint64_t m_failedLogs = 0;
    std::uint64_t m_failedResumes = 0;
};

} // namespace ostrel
