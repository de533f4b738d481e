#pragma once

#include "core/FileIo.h"
#include "core/StationRow.h"
#include "core/UniqueFd.h"
#include "log/SessionLogRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ostrel {

class HistoryTable;
class SessionLogObserver;

// What a file could not take yet: records (or lines) kept in memory, in order, and written again
// until they are durable.
struct PendingWrites
{
    std::size_t count = 0; // waiting to be written or synced again
    int error = 0;         // errno of the latest failure; ELOOP or LinkedFileError: a link in the file's place
    bool operator==(const PendingWrites&) const = default;
};

// Another append-only file whose appends the log thread makes durable together with the log's own,
// one sync round for both (the audit trail of commands).
class SessionLogCompanion
{
public:
    virtual ~SessionLogCompanion() = default;
    // Writes what is waiting, then syncs what was appended so far; runs on the log thread with no
    // lock of the log held. False while anything is not durable yet.
    virtual bool syncAppends() = 0;
    virtual PendingWrites pending() const = 0;
};

enum class LogResult
{
    Appended, // in the file; the log thread makes it durable
    Pending,  // the file did not take it now: it waits in memory and is written before any newer record
    BadCell,  // a price, sum or time cell could not be read: nothing appended, history unchanged
};

// What the log and its companions hold in memory because their files did not take it.
struct LogFaults
{
    PendingWrites sessions; // records of Ostrel.log
    PendingWrites lines;    // lines of the companions (the audit trail)
    bool operator==(const LogFaults&) const = default;
};

// The session log Ostrel.log: a headerless sequence of 168-byte records, only ever appended.
//
// An append is written at once, under the log's own lock, so a process that is killed afterwards
// loses nothing; a log thread makes it durable (fdatasync) within MaxSyncDelay, one sync for every
// append that came meanwhile. No sync ever runs on the appending thread, which holds
// StationTableMutex.
//
// A record the file does not take (a full disk, an I/O error, no permission, a link in its place)
// is not lost: it waits in memory, in order, every newer record behind it, and the log thread
// writes it again every RetryInterval. Nothing counts as durable before its sync succeeded; after a
// failed sync the bytes written since the last good one are written again from memory.
class SessionLog
{
public:
    using Clock = std::function<double()>; // local date-time as a day number

    static constexpr std::chrono::milliseconds MaxSyncDelay{20};
    static constexpr std::chrono::milliseconds RetryInterval{2000};
    // Records and lines waiting in memory past which the server sends no more commands (a command
    // starts a session whose record could not be kept either).
    static constexpr std::size_t MaxPending = 10'000;

    SessionLog(std::string path, HistoryTable& history, Clock clock = {});
    // Makes what was appended durable before it returns.
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    const std::string& path() const { return m_path; }

    // Closes the session of a station-table row: appends its record after the last whole record
    // (a trailing fragment is overwritten), or keeps it waiting when the file does not take it;
    // either way copies the row into the history table with the comment and grows the history
    // table. Caller holds StationTableMutex.
    LogResult LogSession(const StationRow& row, std::string_view comment);

    // What waits in memory, and why.
    LogFaults faults() const;
    // True when so much waits that no new command should start a session.
    bool refusesCommands() const;
    // Called whenever faults() may have changed, on the thread that changed it, with no lock of
    // the log held: it only posts. Set before the first append.
    void setFaultListener(std::function<void()> listener);

    // The file's length as appends leave it, taken under the lock appends hold. Whole records below
    // (length / 168) * 168 never change afterwards, so the work report reads them without the lock;
    // only a trailing fragment may be overwritten by a later append. nullopt when the file is missing.
    std::optional<std::uint64_t> stableLength() const;
    // Of that, what a sync has made durable: the file up to the first record not yet synced. What
    // lies beyond may be gone after a power cut and be written differently then, so a copy of the
    // log elsewhere takes only this much.
    std::optional<std::uint64_t> durableLength() const;

    // Told of every record appended from now on; taken under the lock appends hold, so a reader that
    // adds itself and then asks stableLength() misses no record and meets none twice.
    void addObserver(SessionLogObserver& observer);
    void removeObserver(SessionLogObserver& observer);

    // Waits until every append so far, posted jobs' included, is durable, at most `limit`; false
    // when something still waits then. For tests and shutdown.
    bool waitDurable(std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Syncs done and syncs that failed, for tests and benchmarks.
    std::uint64_t syncs() const;
    std::uint64_t failedSyncs() const;
    // Appends made durable so far, for tests.
    std::uint64_t durableAppends() const;
    // Tests only: how the log file is synced in place of fdatasync; false, with errno set, for a
    // sync that failed.
    void setSyncForTest(std::function<bool(int fd)> sync);

    // A companion whose appends ride on the log's syncs from now on; the log keeps it until it goes.
    void addCompanion(std::shared_ptr<SessionLogCompanion> companion);
    // A companion appended, or keeps a line waiting: the next sync round, within MaxSyncDelay,
    // writes and syncs it.
    void companionAppended();
    // Runs `job` on the log thread soon, before its next sync round: file work that must not run
    // on the thread that asks (the window's).
    void post(std::function<void()> job);

    // Benchmarks only: appends are never synced, so the cost of the sync can be measured apart. The
    // server never calls this; without the sync a closed session may be lost to a power failure.
    void skipSyncForBenchmark();

private:
    struct OpenFile; // an open descriptor of the log file, shared by the appender and the log thread
    struct Waiting   // a record the file has not taken yet
    {
        std::uint64_t sequence = 0;
        LogRecordBytes bytes{};
    };
    struct Unsynced // a record in the file whose sync has not succeeded yet
    {
        std::uint64_t sequence = 0;
        std::shared_ptr<OpenFile> file;
        off_t at = 0;
        LogRecordBytes bytes{};
    };

    // Under m_fileLock: writes one record after the last whole one; false with m_error set.
    bool writeRecord(std::uint64_t sequence, const LogRecordBytes& bytes, std::uint64_t& offset);
    // Under m_fileLock: the bytes of a failed sync again, then what waits, oldest first.
    void writeAgain();
    void failed(int error); // under m_fileLock
    void tellFaults();      // with no lock held
    std::shared_ptr<OpenFile> openLogFile();
    void syncLoop();

    std::string m_path;
    HistoryTable& m_history;
    Clock m_clock;
    mutable std::mutex m_fileLock;
    // The file as the last append left it, until the log thread has synced it (under m_fileLock).
    std::shared_ptr<OpenFile> m_file;
    std::uint64_t m_written = 0;         // appends so far, waiting ones included, under m_fileLock
    std::uint64_t m_durable = 0;         // of which synced, under m_fileLock
    std::deque<Waiting> m_waiting;       // under m_fileLock, oldest first
    std::vector<Unsynced> m_unsynced;    // under m_fileLock
    bool m_writeAgain = false;           // a sync failed: m_unsynced goes to the file again, under m_fileLock
    bool m_retrying = false;             // the last round left something not durable, under m_fileLock
    int m_error = 0;                     // the latest failure's errno, under m_fileLock
    std::vector<int> m_toldErrors;       // failure kinds told on stderr in this run of failures
    std::uint64_t m_end = 0;             // where the next record lies once what waits is written
    std::size_t m_companionsPending = 0; // as the last round found them, under m_fileLock
    std::function<void()> m_faultListener;
    std::function<bool(int)> m_syncForTest;
    bool m_directoryUnsynced = false; // the file was created; its directory entry must be synced too
    bool m_sync = true;
    bool m_stopping = false;
    std::uint64_t m_syncs = 0;
    std::uint64_t m_failedSyncs = 0;
    std::condition_variable m_syncWanted;
    std::condition_variable m_synced;
    std::vector<SessionLogObserver*> m_observers;                   // under m_fileLock
    std::vector<std::shared_ptr<SessionLogCompanion>> m_companions; // under m_fileLock
    std::vector<std::function<void()>> m_jobs;                      // under m_fileLock
    bool m_jobsRunning = false;                                     // under m_fileLock
    // A descriptor held in reserve: when the process has none left (a flood of connections), it
    // is given up so that a closed session can still be appended, and taken again afterwards.
    SpareDescriptor m_spare;
    std::thread m_syncThread; // last: it starts once everything above exists
};

} // namespace ostrel
