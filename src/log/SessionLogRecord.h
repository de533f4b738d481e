#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

inline constexpr std::size_t SessionLogRecordSize = 168;
inline constexpr std::uint8_t LogScrambleMask = 0x5B;
inline constexpr std::size_t LogScrambleBegin = 57; // bytes 57..167 (the texts and the pad) are scrambled

// One closed session in Ostrel.log. Numbers are little-endian doubles stored plain; the texts are
// short strings (Windows-1251) stored XORed with 0x5B.
struct SessionLogRecord
{
    double closedAt = 0;  // offset 0, local date-time the record was made
    double price = 0;     // offset 8
    double start = 0;     // offset 16, time of day
    double duration = 0;  // offset 24, time span
    double finish = 0;    // offset 32, time of day
    double sum = 0;       // offset 40
    std::string computer; // offset 57, capacity 30
    std::string address;  // offset 88, capacity 16
    std::string status;   // offset 105, capacity 40
    std::string comment;  // offset 146, capacity 20
};

using LogRecordBytes = std::array<std::uint8_t, SessionLogRecordSize>;

// XORs bytes 57..167 with 0x5B in place; its own inverse.
void ScrambleLogRecord(std::span<std::uint8_t, SessionLogRecordSize> record);

// The bytes as they go to the file: texts cut to their capacities, zero-filled, then scrambled.
LogRecordBytes encodeLogRecord(const SessionLogRecord& record);

// Reads the bytes as they come from the file (scrambled). Never fails: doubles are taken as they
// are and an overlong length byte is cut to the capacity; callers check what they need.
SessionLogRecord decodeLogRecord(std::span<const std::uint8_t, SessionLogRecordSize> bytes);

// ClosedAt straight from the file bytes: it is stored plain, so a reader can test it before it
// decodes the texts.
double logRecordClosedAt(std::span<const std::uint8_t, SessionLogRecordSize> bytes);

// The computer name and the address together, unscrambled, as one key that tells stations apart
// (each text after its length byte, so no two pairs give the same key). An overlong length byte is
// cut to the capacity, as decodeLogRecord does. The second form writes the key into `into` and
// returns it, for a reader that looks up a key per record without allocating.
inline constexpr std::size_t LogStationKeyCapacity = 1 + 30 + 1 + 16;
std::string logRecordStation(std::span<const std::uint8_t, SessionLogRecordSize> bytes);
std::string_view logRecordStation(std::span<const std::uint8_t, SessionLogRecordSize> bytes,
                                  std::array<char, LogStationKeyCapacity>& into);

// False when a text field's length byte exceeds its capacity: the server never writes such a
// record, so it marks a damaged file (decodeLogRecord still reads it, cut to the capacity).
bool logRecordLengthsValid(std::span<const std::uint8_t, SessionLogRecordSize> bytes);

} // namespace ostrel
