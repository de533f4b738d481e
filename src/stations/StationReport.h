#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace ostrel {

inline constexpr std::size_t StationReportSize = 88;

// What a station reports of its state: 88 bytes, little-endian, opening with the short string "HI".
enum class StatusCode : std::int32_t
{
    Unloaded = 0,
    Closed = 1,
    Running = 2,
    Finished = 3,
    WaitingPaid = 4,
    RunningWithAllowance = 5,
    WaitingGame = 6,
};

struct StationReport
{
    std::int32_t statusCode = 0; // offset 24; values outside 0..6 are valid and change nothing
    std::string statusText;      // offset 32, short string of capacity 23 (a longer length byte is cut)
    double start = 0;            // offset 56, date-time
    double finish = 0;           // offset 64, date-time; elapsed = finish - start
    double price = 0;            // offset 72, price per minute
    double allowance = 0;        // offset 80, days granted
};

// The signature test: byte 0 is a length n, and the first n + 1 bytes must equal 02 48 49.
bool hasStationSignature(std::span<const std::uint8_t> bytes);

// nullopt when the signature test fails. No other field is validated here.
std::optional<StationReport> decodeStationReport(std::span<const std::uint8_t, StationReportSize> bytes);

// The bytes a station sends for a report (used by the simulator and the tests); unread bytes are zero.
std::array<std::uint8_t, StationReportSize> encodeStationReport(const StationReport& report);

} // namespace ostrel
