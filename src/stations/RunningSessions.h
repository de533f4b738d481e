#pragma once

#include "core/FileIo.h"
#include "core/StationRow.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrel {

// A session that was running: the station's row as the table held it, which is what its "Reset"
// record would hold, and when the station last reported.
struct RunningSession
{
    StationRow row{};
    double lastReport = 0; // local day number, to the second
    bool operator==(const RunningSession&) const = default;
};

// One of the two files as text: a header with its generation, a line per session (the last report,
// then the nine cells, tab-separated, control bytes and backslashes escaped), and an end line that
// says the file was written whole.
std::string formatRunningSessions(std::uint64_t generation, const std::vector<RunningSession>& sessions);

struct ParsedRunningSessions
{
    std::optional<std::uint64_t> generation; // none: no header
    bool whole = false;                      // the end line is there and agrees
    std::vector<RunningSession> sessions;
    std::vector<std::size_t> damagedLines; // from 1
};
ParsedRunningSessions parseRunningSessions(std::string_view text);

// The sessions running now, kept on disk so that a power cut of the whole salon loses none: every
// row whose sum is filled, rewritten at most every WriteInterval by a thread of its own, off the
// network and window threads. It is written in place, alternately into Ostrel.running and
// Ostrel.running.2, each ending with a line that says it is whole, so a write cut off by the power
// leaves the other file, one round older, to read.
//
// At start-up the sessions of the previous run are read back, less those the log already holds
// (a record of the same computer, address and start closed at or after their last report): they
// wait for their station to report, at most `returnFor`. Report processing settles each one and
// tells this keeper with takeWaiting() and takeExpired(); until then it stays in the files, so a
// server killed again while settling picks up where it stopped.
class RunningSessions
{
public:
    static constexpr std::string_view FileName = "Ostrel.running";
    static constexpr std::chrono::milliseconds WriteInterval{2000};

    // `path` is Ostrel.running; the second file is `path` + ".2". Reads both and the tail of the
    // log at `logPath`, then starts the writer.
    RunningSessions(std::string path, const std::string& logPath, std::chrono::milliseconds returnFor);
    // Writes the sessions running now, the waiting ones too, then stops the writer: a session
    // running at unload is settled at the next start.
    ~RunningSessions();
    RunningSessions(const RunningSessions&) = delete;
    RunningSessions& operator=(const RunningSessions&) = delete;

    // Report processing, under StationTableMutex. A row with a sum is running, one without is not.
    void noteRow(const StationRow& row, double at);
    void rowGone(const std::string& computer);

    // A session of the previous run that waits for this station; it is gone from the wait list.
    std::optional<RunningSession> takeWaiting(const std::string& computer);
    // The waiting sessions whose time is up; gone from the wait list.
    std::vector<RunningSession> takeExpired();
    // What waits, with the seconds left until it is settled, for the dropped stations' window.
    std::vector<std::pair<RunningSession, int>> waiting() const;
    // How many sessions the previous run left running.
    std::size_t fromBefore() const { return m_fromBefore; }

    // Called on the writer's thread when a waiting session's time is up; set it (or clear it)
    // with no lock held. Clearing waits for a call in progress.
    void setExpiryHandler(std::function<void()> handler);

    // Waits, at most `limit`, until what was noted before the call is in a file; false otherwise.
    bool flush(std::chrono::milliseconds limit);
    std::uint64_t generation() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Waiting
    {
        RunningSession session;
        Clock::time_point until;
    };

    void load(const std::string& logPath, std::chrono::milliseconds returnFor);
    void changed(); // under m_mutex
    void run();
    bool write(std::uint64_t generation, const std::string& text);

    const std::string m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::map<std::string, RunningSession> m_running; // by computer name
    std::map<std::string, Waiting> m_waiting;        // by computer name
    std::size_t m_fromBefore = 0;
    std::uint64_t m_changes = 0; // changes noted so far
    std::uint64_t m_stored = 0;  // of which in a file
    std::uint64_t m_generation = 0;
    bool m_failed = false; // the last write failed; told once per run of failures
    bool m_stopping = false;
    std::mutex m_handlerLock; // held while the handler runs
    std::function<void()> m_expired;
    SpareDescriptor m_spare; // the writer's
    std::thread m_thread;    // last: it starts once everything above exists
};

} // namespace ostrel
