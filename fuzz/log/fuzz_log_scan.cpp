// Arbitrary bytes as a session log, read the way ostrel-log reads it: scanned, every record
// decoded and written as a dump line and a CSV line (into a buffer that is then dropped), and the
// findings of the check. What the scan and the decoder report is checked against the bytes.

#include "LogTextWriter.h"
#include "MemoryLogFile.h"
#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "log/LogScan.h"
#include "log/SessionLogRecord.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

using namespace ostrel;
using ostrel::fuzz::check;

namespace {

struct TextField
{
    std::size_t offset;
    std::size_t capacity;
    std::string SessionLogRecord::*member;
};

constexpr TextField Texts[] = {{57, 30, &SessionLogRecord::computer},
                               {88, 16, &SessionLogRecord::address},
                               {105, 40, &SessionLogRecord::status},
                               {146, 20, &SessionLogRecord::comment}};

bool sameBits(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double plainDouble(const std::uint8_t* at)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | at[i];
    return std::bit_cast<double>(bits);
}

// The decoder against a reading of the layout written out here: the numbers bit for bit, each text
// the unscrambled bytes of its own field only, cut to the capacity.
void checkDecoded(const std::uint8_t* bytes, const SessionLogRecord& r)
{
    check(sameBits(r.closedAt, plainDouble(bytes)));
    check(sameBits(r.price, plainDouble(bytes + 8)));
    check(sameBits(r.start, plainDouble(bytes + 16)));
    check(sameBits(r.duration, plainDouble(bytes + 24)));
    check(sameBits(r.finish, plainDouble(bytes + 32)));
    check(sameBits(r.sum, plainDouble(bytes + 40)));
    for (const TextField& f : Texts) {
        const std::size_t length = std::min<std::size_t>(bytes[f.offset] ^ LogScrambleMask, f.capacity);
        std::string expected(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            expected[i] = static_cast<char>(bytes[f.offset + 1 + i] ^ LogScrambleMask);
        check(r.*f.member == expected);
    }
}

bool lengthsValid(const std::uint8_t* bytes)
{
    return std::all_of(std::begin(Texts), std::end(Texts),
                       [bytes](const TextField& f) { return (bytes[f.offset] ^ LogScrambleMask) <= f.capacity; });
}

// A dump line is one line of eleven tab-separated fields, whatever bytes the texts hold.
void checkDumpLine(const std::string& line)
{
    check(!line.empty() && line.back() == '\n');
    check(std::count(line.begin(), line.end(), '\n') == 1);
    check(std::count(line.begin(), line.end(), '\t') == 10);
    check(isValidUtf8(line));
}

// A CSV line read back by RFC 4180 has ten fields and ends with CRLF outside quotes.
// What the scan must find in the first `length` bytes, worked out here record by record.
struct Expected
{
    std::optional<std::uint64_t> firstBadDate;
    LogDateFault fault = LogDateFault::None;
    std::optional<std::uint64_t> firstBadLength;
};

Expected expectedFindings(const std::uint8_t* data, std::uint64_t records)
{
    Expected e;
    std::optional<double> lastValid;
    for (std::uint64_t i = 0; i < records; ++i) {
        const std::uint8_t* bytes = data + i * SessionLogRecordSize;
        const double closedAt = plainDouble(bytes);
        if (!e.firstBadDate) {
            if (!isValidDateTime(closedAt)) {
                e.firstBadDate = i;
                e.fault = LogDateFault::NotValid;
            } else if (lastValid && closedAt < *lastValid) {
                e.firstBadDate = i;
                e.fault = LogDateFault::Backwards;
            }
        }
        if (isValidDateTime(closedAt))
            lastValid = closedAt;
        if (!e.firstBadLength && !lengthsValid(bytes))
            e.firstBadLength = i;
    }
    return e;
}

void checkFindings(const LogScanResult& result, const Expected& e)
{
    check(result.firstBadDate == e.firstBadDate);
    check(result.badDateFault == e.fault);
    check(result.firstBadLength == e.firstBadLength);
    if (result.firstBadDate)
        check(*result.firstBadDate < result.records);
    if (result.firstBadLength)
        check(*result.firstBadLength < result.records);
}

// ostrel-log dump, and the texts of its check.
void readAsTool(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    LogTextWriter dumpWriter;
    std::string sink;
    LogTextWriter::dumpHeader(sink);
    std::uint64_t next = 0;
    const LogScanResult result = scanLogFile(path, [&](const LogScanEntry& entry) {
        check(entry.index == next++);
        check(entry.offset == entry.index * SessionLogRecordSize);
        check(entry.offset + SessionLogRecordSize <= size);
        const std::uint8_t* stored = data + entry.offset;
        check(std::memcmp(entry.bytes.data(), stored, SessionLogRecordSize) == 0);
        check(sameBits(entry.closedAt, plainDouble(stored)));

        const SessionLogRecord record = decodeLogRecord(entry.bytes);
        checkDecoded(stored, record);
        // Writing the decoded record gives back a record that decodes the same.
        const LogRecordBytes again = encodeLogRecord(record);
        checkDecoded(again.data(), record);
        check(logRecordLengthsValid(again));

        sink.clear();
        dumpWriter.dumpLine(sink, entry.index, record);
        checkDumpLine(sink);
        return true;
    });

    check(result.status == LogScanStatus::Complete);
    check(result.records == size / SessionLogRecordSize);
    check(next == result.records);
    check(result.fragmentBytes == size % SessionLogRecordSize);
    const Expected e = expectedFindings(data, result.records);
    checkFindings(result, e);
    check(result.intact() == (result.fragmentBytes == 0 && !e.firstBadDate && !e.firstBadLength));
    if (result.firstBadDate) {
        check(sameBits(result.badDateValue, plainDouble(data + *result.firstBadDate * SessionLogRecordSize)));
        (void)LogTextWriter::dateTime(result.badDateValue);
        (void)LogTextWriter::dateTime(result.previousClosedAt);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::MemoryLogFile file;
    file.write(data, size);

    readAsTool(file.path(), data, size);

    // The check alone, then a read cut short: by a length limit (an append under way), and by the
    // callback (the work report past its period).
    const LogScanResult whole = scanLogFile(file.path(), {});
    check(whole.status == LogScanStatus::Complete && whole.records == size / SessionLogRecordSize);

    const std::uint64_t limit = size > 0 ? data[size - 1] * 7u % (size + 1) : 0;
    const LogScanResult cut = scanLogFile(file.path(), {}, limit);
    check(cut.status == LogScanStatus::Complete);
    check(cut.records == limit / SessionLogRecordSize);
    check(cut.fragmentBytes == limit % SessionLogRecordSize);
    checkFindings(cut, expectedFindings(data, cut.records));

    const std::uint64_t stopAt = size > 0 ? data[0] % 4u : 0;
    std::uint64_t seen = 0;
    const LogScanResult stopped = scanLogFile(file.path(), [&](const LogScanEntry&) { return ++seen <= stopAt; });
    const std::uint64_t records = size / SessionLogRecordSize;
    if (records > stopAt) {
        check(stopped.status == LogScanStatus::Stopped);
        check(stopped.records == stopAt + 1 && stopped.fragmentBytes == 0);
    } else {
        check(stopped.status == LogScanStatus::Complete && stopped.records == records);
    }
    return 0;
}
