#pragma once

#include "log/SessionLogRecord.h"

#include <cstdint>

namespace ostrel {

// Told of every record the session log appended, under the log's own lock and with
// StationTableMutex held by the appending thread: an observer only records and posts. `offset` is
// where the record lies in the file, so a reader that scanned the file up to some length knows
// whether it has already met the record.
class SessionLogObserver
{
public:
    virtual ~SessionLogObserver() = default;
    virtual void sessionLogged(const SessionLogRecord& record, std::uint64_t offset) = 0;
};

} // namespace ostrel
