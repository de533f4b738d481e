#include "log/LogScan.h"

#include "core/DateTime.h"
#include "core/FileIo.h"
#include "core/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel {

namespace {

constexpr std::size_t RecordsPerRead = 4096; // 672 KiB per read

// Reads up to `size` bytes, fewer only at the end of the file. -1 on a read error.
ssize_t readFully(int fd, std::uint8_t* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, into + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Enough whole records for the bytes there are to read (at least two), up to RecordsPerRead: a
// log of a few records is not read through 672 KiB of fresh memory. A log that grows meanwhile
// is still read to its end, only in more reads.
std::size_t bufferSize(int fd, std::optional<std::uint64_t> lengthLimit)
{
    std::uint64_t bytes = RecordsPerRead * SessionLogRecordSize;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size >= 0)
        bytes = std::min(bytes, static_cast<std::uint64_t>(st.st_size));
    if (lengthLimit)
        bytes = std::min(bytes, *lengthLimit);
    const std::uint64_t records = std::clamp<std::uint64_t>(bytes / SessionLogRecordSize + 1, 2, RecordsPerRead);
    return static_cast<std::size_t>(records) * SessionLogRecordSize;
}

void checkRecord(LogScanResult& result, const LogScanEntry& entry, std::optional<double>& lastValid)
{
    if (!result.firstBadDate) {
        if (!isValidDateTime(entry.closedAt)) {
            result.firstBadDate = entry.index;
            result.badDateFault = LogDateFault::NotValid;
            result.badDateValue = entry.closedAt;
        } else if (lastValid && entry.closedAt < *lastValid) {
            result.firstBadDate = entry.index;
            result.badDateFault = LogDateFault::Backwards;
            result.badDateValue = entry.closedAt;
            result.previousClosedAt = *lastValid;
        }
    }
    if (isValidDateTime(entry.closedAt))
        lastValid = entry.closedAt;
    if (!result.firstBadLength && !logRecordLengthsValid(entry.bytes))
        result.firstBadLength = entry.index;
}

} // namespace

LogScanResult scanLogFile(const std::string& path, const LogScanCallback& onRecord,
                          std::optional<std::uint64_t> lengthLimit, std::uint64_t firstRecord)
{
    LogScanResult result;
    const UniqueFd file(openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        result.error = errno;
        result.status = errno == ENOENT ? LogScanStatus::Missing : LogScanStatus::OpenFailed;
        return result;
    }

    const int fd = file.get();
    const std::uint64_t skipped = firstRecord * SessionLogRecordSize;
    if (lengthLimit)
        lengthLimit = *lengthLimit > skipped ? *lengthLimit - skipped : 0;
    if (skipped > 0 && ::lseek(fd, static_cast<off_t>(skipped), SEEK_SET) < 0) {
        result.error = errno;
        result.status = LogScanStatus::ReadFailed;
        return result;
    }
    const std::size_t size = bufferSize(fd, lengthLimit);
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    std::uint64_t remaining = lengthLimit.value_or(UINT64_MAX);
    std::size_t carried = 0; // bytes of an incomplete record at the start of the buffer
    std::optional<double> lastValid;
    bool stopped = false;

    while (!stopped && remaining > 0) {
        const std::size_t room = size - carried;
        const std::size_t want = remaining < room ? static_cast<std::size_t>(remaining) : room;
        const ssize_t got = readFully(fd, buffer.get() + carried, want);
        if (got < 0) {
            result.error = errno;
            result.status = LogScanStatus::ReadFailed;
            return result;
        }
        remaining -= static_cast<std::uint64_t>(got);
        const std::size_t available = carried + static_cast<std::size_t>(got);
        const bool atEnd = static_cast<std::size_t>(got) < want || remaining == 0;

        std::size_t pos = 0;
        for (; pos + SessionLogRecordSize <= available; pos += SessionLogRecordSize) {
            const std::uint64_t index = firstRecord + result.records;
            LogScanEntry entry{
                index, index * SessionLogRecordSize, 0,
                std::span<const std::uint8_t, SessionLogRecordSize>(buffer.get() + pos, SessionLogRecordSize)};
            entry.closedAt = logRecordClosedAt(entry.bytes);
            checkRecord(result, entry, lastValid);
            ++result.records;
            if (onRecord && !onRecord(entry)) {
                stopped = true;
                break;
            }
        }
        if (stopped)
            break;
        carried = available - pos;
        if (atEnd) {
            result.fragmentBytes = carried;
            break;
        }
        std::memmove(buffer.get(), buffer.get() + pos, carried);
    }

    result.status = stopped ? LogScanStatus::Stopped : LogScanStatus::Complete;
    return result;
}

LogScanResult scanLogTail(const std::string& path, const LogScanCallback& onRecord)
{
    LogScanResult result;
    const UniqueFd file(openRetrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st
    {
    };
    if (!file || ::fstat(file.get(), &st) != 0) {
        result.error = errno;
        result.status = errno == ENOENT ? LogScanStatus::Missing : LogScanStatus::OpenFailed;
        return result;
    }
    constexpr std::uint64_t ChunkRecords = 4096;
    const std::uint64_t whole = static_cast<std::uint64_t>(st.st_size) / SessionLogRecordSize;
    std::vector<std::uint8_t> buffer;
    for (std::uint64_t end = whole; end > 0;) {
        const std::uint64_t begin = end > ChunkRecords ? end - ChunkRecords : 0;
        buffer.resize(static_cast<std::size_t>((end - begin) * SessionLogRecordSize));
        if (!readAllAt(file.get(), reinterpret_cast<char*>(buffer.data()), buffer.size(),
                       static_cast<off_t>(begin * SessionLogRecordSize))) {
            result.error = errno;
            result.status = LogScanStatus::ReadFailed;
            return result;
        }
        for (std::uint64_t i = end; i > begin; --i) {
            const std::size_t at = static_cast<std::size_t>((i - 1 - begin) * SessionLogRecordSize);
            LogScanEntry entry{
                i - 1, (i - 1) * SessionLogRecordSize, 0,
                std::span<const std::uint8_t, SessionLogRecordSize>(buffer.data() + at, SessionLogRecordSize)};
            entry.closedAt = logRecordClosedAt(entry.bytes);
            ++result.records;
            if (onRecord && !onRecord(entry)) {
                result.status = LogScanStatus::Stopped;
                return result;
            }
        }
        end = begin;
    }
    return result;
}

} // namespace ostrel
