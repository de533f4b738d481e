#pragma once

#include "log/SessionLogRecord.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace ostrel {

// One whole record as the scan meets it. `bytes` is the record as stored (texts scrambled) and
// is valid only during the callback; decodeLogRecord(bytes) gives the fields. ClosedAt is stored
// plain and handed over already read, so a caller can decide on it before decoding the texts.
struct LogScanEntry
{
    std::uint64_t index = 0;  // 0 for the first record of the file
    std::uint64_t offset = 0; // index * 168
    double closedAt = 0;
    std::span<const std::uint8_t, SessionLogRecordSize> bytes;
};

enum class LogScanStatus
{
    Complete,   // read to the end (or to the length limit)
    Stopped,    // the callback asked to stop
    Missing,    // the file does not exist
    OpenFailed, // it exists but cannot be opened
    ReadFailed, // a read failed part way; `records` were delivered before it
};

enum class LogDateFault
{
    None,
    NotValid,  // ClosedAt is not finite, or not a date in 0001..9999
    Backwards, // ClosedAt is earlier than that of the record before it
};

struct LogScanResult
{
    LogScanStatus status = LogScanStatus::Complete;
    int error = 0; // errno of OpenFailed or ReadFailed

    std::uint64_t records = 0;       // whole records delivered to the callback
    std::uint64_t fragmentBytes = 0; // bytes after the last whole record, when the scan reached them

    // The first record whose ClosedAt is not a valid date-time or goes backwards. A record after
    // an invalid one is compared with the last valid ClosedAt before it.
    std::optional<std::uint64_t> firstBadDate;
    LogDateFault badDateFault = LogDateFault::None;
    double badDateValue = 0;
    double previousClosedAt = 0; // for Backwards: the ClosedAt it goes back from

    // The first record with a text length byte above its field's capacity.
    std::optional<std::uint64_t> firstBadLength;

    // True when the whole file was read and nothing in it is out of order or damaged.
    bool intact() const
    {
        return status == LogScanStatus::Complete && fragmentBytes == 0 && !firstBadDate && !firstBadLength;
    }
};

// Called for every whole record in file order; return false to stop the scan.
using LogScanCallback = std::function<bool(const LogScanEntry&)>;

// Reads the session log record by record with large buffered reads and never writes to it.
// `lengthLimit` reads only that many bytes from the start: pass SessionLog::stableLength() to see
// the file as the last finished append left it while appends continue. The checks of the result
// are made for every delivered record whatever the callback does with it. `firstRecord` starts the
// scan at that record, for a reader that goes on where it stopped: `records` then counts from there,
// the entries keep their indexes in the whole file, and the date checks begin with that record.
LogScanResult scanLogFile(const std::string& path, const LogScanCallback& onRecord,
                          std::optional<std::uint64_t> lengthLimit = std::nullopt, std::uint64_t firstRecord = 0);

// The whole records of the log newest first, from its end backwards, until the callback returns
// false: for start-up, which wants only the last minutes of a log that may hold years. Only
// `status`, `error` and `records` of the result are filled.
LogScanResult scanLogTail(const std::string& path, const LogScanCallback& onRecord);

} // namespace ostrel
