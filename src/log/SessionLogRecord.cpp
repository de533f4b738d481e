#include "log/SessionLogRecord.h"

#include "core/LittleEndian.h"
#include "core/ShortString.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ostrel {

namespace {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559);

struct TextField
{
    std::size_t offset;
    std::size_t capacity;
};

constexpr std::size_t ReservedOffset = 48;
constexpr TextField ComputerField{57, 30};
constexpr TextField AddressField{88, 16};
constexpr TextField StatusField{105, 40};
constexpr TextField CommentField{146, 20};
static_assert(CommentField.offset + 1 + CommentField.capacity + 1 == SessionLogRecordSize); // the pad byte

std::span<std::uint8_t> field(LogRecordBytes& bytes, TextField f)
{
    return std::span<std::uint8_t>(bytes).subspan(f.offset, 1 + f.capacity);
}

std::span<const std::uint8_t> field(std::span<const std::uint8_t, SessionLogRecordSize> bytes, TextField f)
{
    return bytes.subspan(f.offset, 1 + f.capacity);
}

} // namespace

void ScrambleLogRecord(std::span<std::uint8_t, SessionLogRecordSize> record)
{
    for (std::size_t i = LogScrambleBegin; i < SessionLogRecordSize; ++i)
        record[i] ^= LogScrambleMask;
}

LogRecordBytes encodeLogRecord(const SessionLogRecord& record)
{
    LogRecordBytes bytes{};
    writeLe(bytes, 0, record.closedAt);
    writeLe(bytes, 8, record.price);
    writeLe(bytes, 16, record.start);
    writeLe(bytes, 24, record.duration);
    writeLe(bytes, 32, record.finish);
    writeLe(bytes, 40, record.sum);
    static_assert(ReservedOffset == 48); // bytes 48..56 stay zero
    writeShortString(field(bytes, ComputerField), record.computer);
    writeShortString(field(bytes, AddressField), record.address);
    writeShortString(field(bytes, StatusField), record.status);
    writeShortString(field(bytes, CommentField), record.comment);
    ScrambleLogRecord(bytes);
    return bytes;
}

SessionLogRecord decodeLogRecord(std::span<const std::uint8_t, SessionLogRecordSize> bytes)
{
    LogRecordBytes plain;
    std::memcpy(plain.data(), bytes.data(), SessionLogRecordSize);
    ScrambleLogRecord(plain);
    const std::span<const std::uint8_t, SessionLogRecordSize> view(plain);

    SessionLogRecord record;
    record.closedAt = readLe<double>(view, 0);
    record.price = readLe<double>(view, 8);
    record.start = readLe<double>(view, 16);
    record.duration = readLe<double>(view, 24);
    record.finish = readLe<double>(view, 32);
    record.sum = readLe<double>(view, 40);
    record.computer = readShortString(field(view, ComputerField));
    record.address = readShortString(field(view, AddressField));
    record.status = readShortString(field(view, StatusField));
    record.comment = readShortString(field(view, CommentField));
    return record;
}

double logRecordClosedAt(std::span<const std::uint8_t, SessionLogRecordSize> bytes)
{
    return readLe<double>(bytes, 0);
}

std::string_view logRecordStation(std::span<const std::uint8_t, SessionLogRecordSize> bytes,
                                  std::array<char, LogStationKeyCapacity>& into)
{
    static_assert(LogStationKeyCapacity == 1 + ComputerField.capacity + 1 + AddressField.capacity);
    std::size_t size = 0;
    for (const TextField f : {ComputerField, AddressField}) {
        const std::size_t length = std::min<std::size_t>(bytes[f.offset] ^ LogScrambleMask, f.capacity);
        into[size++] = static_cast<char>(length);
        for (std::size_t i = 0; i < length; ++i)
            into[size++] = static_cast<char>(bytes[f.offset + 1 + i] ^ LogScrambleMask);
    }
    return std::string_view(into.data(), size);
}

std::string logRecordStation(std::span<const std::uint8_t, SessionLogRecordSize> bytes)
{
    std::array<char, LogStationKeyCapacity> key;
    return std::string(logRecordStation(bytes, key));
}

bool logRecordLengthsValid(std::span<const std::uint8_t, SessionLogRecordSize> bytes)
{
    for (const TextField f : {ComputerField, AddressField, StatusField, CommentField}) {
        if ((bytes[f.offset] ^ LogScrambleMask) > f.capacity)
            return false;
    }
    return true;
}

} // namespace ostrel
