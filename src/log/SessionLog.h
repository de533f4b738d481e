#pragma once

#include "core/StationRow.h"
#include "log/SessionLogRecord.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class HistoryTable;
class SessionLogObserver;

enum class LogResult
{
    Appended,
    BadCell,     // a price, sum or time cell could not be read: nothing appended, history unchanged
    OpenFailed,  // the file could be neither opened nor created: the same
    WriteFailed, // the write or its fsync failed: the spare row is filled but the table did not grow
};

// The session log Ostrel.log: a headerless sequence of 168-byte records, only ever appended.
class SessionLog
{
public:
    using Clock = std::function<double()>; // local date-time as a day number

    SessionLog(std::string path, HistoryTable& history, Clock clock = {});
    ~SessionLog();
    SessionLog(const SessionLog&) = delete;
    SessionLog& operator=(const SessionLog&) = delete;

    const std::string& path() const { return m_path; }

    // Closes the session of a station-table row: appends its record after the last whole record
    // (a trailing fragment is overwritten), copies the row into the history table with the comment,
    // and grows the history table. The append ends with fsync. Caller holds StationTableMutex.
    LogResult LogSession(const StationRow& row, std::string_view comment);

    // The file's length as appends leave it, taken under the lock appends hold. Whole records below
    // (length / 168) * 168 never change afterwards, so the work report reads them without the lock;
    // only a trailing fragment may be overwritten by a later append. nullopt when the file is missing.
    std::optional<std::uint64_t> stableLength() const;

    // Told of every record appended from now on; taken under the lock appends hold, so a reader that
    // adds itself and then asks stableLength() misses no record and meets none twice.
    void addObserver(SessionLogObserver& observer);
    void removeObserver(SessionLogObserver& observer);

    // Benchmarks only: appends skip fsync, so the cost of the sync can be measured apart. The
    // server never calls this; without the sync a closed session may be lost to a power failure.
    void skipSyncForBenchmark() { m_sync = false; }

private:
    LogResult append(const StationRow& row, std::string_view comment, SessionLogRecord& written, std::uint64_t& offset);
    int openLogFile();

    std::string m_path;
    HistoryTable& m_history;
    Clock m_clock;
    mutable std::mutex m_fileLock;
    bool m_sync = true;
    std::vector<SessionLogObserver*> m_observers; // under m_fileLock
    // A descriptor held in reserve: when the process has none left (a flood of connections), it
    // is given up so that a closed session can still be appended, and taken again afterwards.
    int m_spareFd = -1;
};

} // namespace ostrel
