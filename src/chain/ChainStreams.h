#pragma once

#include "report/RepeatFinder.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ostrel {

// What one read of a file gave: its rows as COPY lines, and where the file is read to after them.
// The stream moves there only when the batch is in the database (commit).
struct ChainBatch
{
    std::string rows;
    std::uint64_t count = 0;
    std::uint64_t firstPosition = 0; // the first row's key
    std::uint64_t lastPosition = 0;
};

// Ostrel.log read on from where the database has it. A row's position is its record's byte
// offset. The repeat flag needs every earlier record of the station, so the stream keeps the
// work report's RepeatFinder over all it has read.
class LogStream
{
public:
    // `length`: how much of the log is durable (SessionLog::durableLength());
    // nullopt from it means no log yet.
    LogStream(std::string path, std::function<std::optional<std::uint64_t>()> length);

    // Reads from the record after the last one committed, at most `limit` records.
    ChainBatch read(std::string_view salon, std::uint64_t limit);
    void commit(const ChainBatch& batch);

    // Goes to the record at `offset` (the newest the database holds), or to the log's last record
    // when the log is shorter, so that the next read sends it again and the database compares it
    // with its own. nullopt: the database has nothing, the reading starts at the first record.
    void resumeAt(std::optional<std::uint64_t> offset);

    std::uint64_t nextRecord() const { return m_next; }
    std::uint64_t availableRecords() const; // whole records the log has now

private:
    void advanceTo(std::uint64_t record);

    std::string m_path;
    std::function<std::optional<std::uint64_t>()> m_length;
    std::uint64_t m_next = 0;
    RepeatFinder m_repeats; // over records 0 .. m_next - 1
    RepeatFinder m_pending; // m_repeats after the batch last read
    std::uint64_t m_pendingNext = 0;
};

// One of the server's CSV files (the audit trail, the cash book) read on line by line; a row's
// position is its line number, the header being line 1 and not shipped. A last line without its
// line end is left for a later read: the file's next append cuts it off.
class CsvStream
{
public:
    enum class Kind
    {
        Audit,
        Cash,
    };
    // `length`, when given, bounds what is read: how much of the file is durable.
    CsvStream(std::string path, Kind kind, std::function<std::optional<std::uint64_t>()> length = {});

    ChainBatch read(std::string_view salon, std::uint64_t limit);
    void commit(const ChainBatch& batch);
    // As LogStream::resumeAt, with a line number.
    void resumeAt(std::optional<std::uint64_t> lineNumber);

    std::uint64_t nextLine() const { return m_nextLine; }

private:
    // Whole lines from m_offset; `each` gets the line number and the text without its end, and
    // returns false to stop before that line. Returns the byte offset after the last taken line.
    template <class Each> bool lines(std::uint64_t& offset, std::uint64_t& lineNumber, Each each);

    std::string m_path;
    Kind m_kind;
    std::function<std::optional<std::uint64_t>()> m_length;
    std::uint64_t m_offset = 0;   // bytes of the lines committed
    std::uint64_t m_nextLine = 1; // the line that starts at m_offset
    std::uint64_t m_pendingOffset = 0;
    std::uint64_t m_pendingLine = 1;
};

} // namespace ostrel
