#include "chain/ChainStreams.h"

#include "chain/ChainSchema.h"
#include "core/FileIo.h"
#include "core/Texts.h"
#include "core/UniqueFd.h"
#include "log/LogScan.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ostrel {

namespace {

// A read of a CSV file takes at most this much; the next read goes on from there.
constexpr std::size_t CsvReadBytes = 4 << 20;

} // namespace

LogStream::LogStream(std::string path, std::function<std::optional<std::uint64_t>()> length)
    : m_path(std::move(path)), m_length(std::move(length))
{}

std::uint64_t LogStream::availableRecords() const
{
    const auto length = m_length();
    return length ? *length / SessionLogRecordSize : 0;
}

ChainBatch LogStream::read(std::string_view salon, std::uint64_t limit)
{
    ChainBatch batch;
    m_pending = m_repeats;
    m_pendingNext = m_next;
    const auto length = m_length();
    if (!length || limit == 0 || *length / SessionLogRecordSize <= m_next)
        return batch;
    batch.rows.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(limit, 100'000)) * 128);
    scanLogFile(
        m_path,
        [&](const LogScanEntry& entry) {
            const bool repeated = m_pending.take(entry);
            appendSessionRow(batch.rows, salon, entry.offset, decodeLogRecord(entry.bytes), repeated);
            if (batch.count == 0)
                batch.firstPosition = entry.offset;
            batch.lastPosition = entry.offset;
            ++batch.count;
            m_pendingNext = entry.index + 1;
            return batch.count < limit;
        },
        *length, m_next);
    return batch;
}

void LogStream::commit(const ChainBatch& batch)
{
    if (batch.count == 0)
        return;
    m_repeats = std::move(m_pending);
    m_pending = {};
    m_next = m_pendingNext;
}

void LogStream::advanceTo(std::uint64_t record)
{
    if (record < m_next) {
        m_repeats = {};
        m_next = 0;
    }
    if (record == m_next)
        return;
    const auto length = m_length();
    if (!length)
        return;
    scanLogFile(
        m_path,
        [&](const LogScanEntry& entry) {
            if (entry.index >= record)
                return false;
            m_repeats.take(entry);
            m_next = entry.index + 1;
            return true;
        },
        *length, m_next);
}

void LogStream::resumeAt(std::optional<std::uint64_t> offset)
{
    std::uint64_t target = offset ? *offset / SessionLogRecordSize : 0;
    const std::uint64_t available = availableRecords();
    if (available == 0)
        target = 0;
    else
        target = std::min(target, available - 1);
    advanceTo(target);
}

CsvStream::CsvStream(std::string path, Kind kind, std::function<std::optional<std::uint64_t>()> length)
    : m_path(std::move(path)), m_kind(kind), m_length(std::move(length))
{}

template <class Each> bool CsvStream::lines(std::uint64_t& offset, std::uint64_t& lineNumber, Each each)
{
    std::uint64_t want = CsvReadBytes;
    if (m_length) {
        const auto length = m_length();
        if (!length || *length <= offset)
            return true; // nothing durable beyond what was taken
        want = std::min(want, *length - offset);
    }
    const UniqueFd fd(openRetrying(m_path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return false;
    std::string data(static_cast<std::size_t>(want), '\0');
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::pread(fd.get(), data.data() + got, data.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    std::string_view rest(data);
    while (true) {
        const auto end = rest.find('\n');
        if (end == std::string_view::npos)
            return true; // a line still being written, or none
        std::string_view chunk = rest.substr(0, end + 1);
        const std::string_view text = takeLine(chunk);
        if (!each(lineNumber, text))
            return true;
        offset += end + 1;
        ++lineNumber;
        rest.remove_prefix(end + 1);
    }
}

ChainBatch CsvStream::read(std::string_view salon, std::uint64_t limit)
{
    ChainBatch batch;
    m_pendingOffset = m_offset;
    m_pendingLine = m_nextLine;
    if (limit == 0)
        return batch;
    lines(m_pendingOffset, m_pendingLine, [&](std::uint64_t number, std::string_view text) {
        if (batch.count >= limit)
            return false;
        if (number == 1)
            return true; // the header
        if (m_kind == Kind::Audit)
            appendCommandRow(batch.rows, salon, number, text, checkAuditLine(text));
        else
            appendCashRow(batch.rows, salon, number, text, checkCashLine(text));
        if (batch.count == 0)
            batch.firstPosition = number;
        batch.lastPosition = number;
        ++batch.count;
        return true;
    });
    return batch;
}

void CsvStream::commit(const ChainBatch& batch)
{
    (void)batch; // a read of the header alone moves on too
    m_offset = m_pendingOffset;
    m_nextLine = m_pendingLine;
}

void CsvStream::resumeAt(std::optional<std::uint64_t> lineNumber)
{
    const std::uint64_t target = lineNumber ? *lineNumber : 1;
    m_offset = 0;
    m_nextLine = 1;
    // Bounded by the file: each round takes what one read holds, and stops when it takes nothing.
    while (m_nextLine < target) {
        const std::uint64_t before = m_nextLine;
        lines(m_offset, m_nextLine, [&](std::uint64_t number, std::string_view) { return number < target; });
        if (m_nextLine == before)
            break;
    }
}

} // namespace ostrel
