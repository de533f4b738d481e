#pragma once

#include "core/StationRow.h"
#include "core/UniqueFd.h"
#include "log/SessionLogRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
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

// Another append-only file whose appends the log thread makes durable together with the log's own,
// one sync round for both (the audit trail of commands).
class SessionLogCompanion
{
public:
    virtual ~SessionLogCompanion() = default;
    // Syncs what was appended so far; runs on the log thread with no lock of the log held. False
    // when the sync failed.
    virtual bool syncAppends() = 0;
};

enum class LogResult
{
    Appended,
    BadCell,     // a price, sum or time cell could not be read: nothing appended, history unchanged
    OpenFailed,  // the file could be neither opened nor created: the same
    WriteFailed, // the write failed: the spare row is filled but the table did not grow
};

// The session log Ostrel.log: a headerless sequence of 168-byte records, only ever appended.
//
// An append is written at once, under the log's own lock, so a process that is killed afterwards
// loses nothing; a log thread makes it durable (fdatasync) within MaxSyncDelay, one sync for every
// append that came meanwhile. No sync ever runs on the appending thread, which holds
// StationTableMutex.
class SessionLog
{
public:
    using Clock = std::function<double()>; // local date-time as a day number

    static constexpr std::chrono::milliseconds MaxSyncDelay{20};

    SessionLog(std::string path, HistoryTable& history, Clock clock = {});
    // Makes what was appended durable before it returns.
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    const std::string& path() const { return m_path; }

    // Closes the session of a station-table row: appends its record after the last whole record
    // (a trailing fragment is overwritten), copies the row into the history table with the comment,
    // and grows the history table. Caller holds StationTableMutex.
    LogResult LogSession(const StationRow& row, std::string_view comment);

    // The file's length as appends leave it, taken under the lock appends hold. Whole records below
    // (length / 168) * 168 never change afterwards, so the work report reads them without the lock;
    // only a trailing fragment may be overwritten by a later append. nullopt when the file is missing.
    std::optional<std::uint64_t> stableLength() const;

    // Told of every record appended from now on; taken under the lock appends hold, so a reader that
    // adds itself and then asks stableLength() misses no record and meets none twice.
    void addObserver(SessionLogObserver& observer);
    void removeObserver(SessionLogObserver& observer);

    // Waits until every append so far, posted jobs' included, is durable (or its sync failed). For
    // tests and shutdown.
    void waitDurable();
    // Syncs done and syncs that failed, for tests and benchmarks.
    std::uint64_t syncs() const;
    std::uint64_t failedSyncs() const;

    // A companion whose appends ride on the log's syncs from now on; the log keeps it until it goes.
    void addCompanion(std::shared_ptr<SessionLogCompanion> companion);
    // A companion appended: the next sync round, within MaxSyncDelay, makes it durable.
    void companionAppended();
    // Runs `job` on the log thread soon, before its next sync round: file work that must not run
    // on the thread that asks (the window's).
    void post(std::function<void()> job);

    // Benchmarks only: appends are never synced, so the cost of the sync can be measured apart. The
    // server never calls this; without the sync a closed session may be lost to a power failure.
    void skipSyncForBenchmark();

private:
    struct OpenFile; // an open descriptor of the log file, shared by the appender and the log thread

    LogResult append(const StationRow& row, std::string_view comment, SessionLogRecord& written, std::uint64_t& offset);
    std::shared_ptr<OpenFile> openLogFile();
    void syncLoop();

    std::string m_path;
    HistoryTable& m_history;
    Clock m_clock;
    mutable std::mutex m_fileLock;
    // The file as the last append left it, until the log thread has synced it (under m_fileLock).
    std::shared_ptr<OpenFile> m_file;
    std::uint64_t m_written = 0;      // appends (and truncations) so far, under m_fileLock
    std::uint64_t m_durable = 0;      // of which synced, under m_fileLock
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
    UniqueFd m_spare;
    std::thread m_syncThread; // last: it starts once everything above exists
};

} // namespace ostrel
