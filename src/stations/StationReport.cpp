#include "stations/StationReport.h"

#include "core/ShortString.h"

#include <bit>
#include <cstring>

namespace ostrel {

namespace {

constexpr std::size_t StatusCodeOffset = 24;
constexpr std::size_t StatusTextOffset = 32;
constexpr std::size_t StatusTextField = 24; // length byte and 23 characters
constexpr std::size_t StartOffset = 56;
constexpr std::size_t FinishOffset = 64;
constexpr std::size_t PriceOffset = 72;
constexpr std::size_t AllowanceOffset = 80;

// Assembled byte by byte so the layout holds whatever the host's byte order.
std::uint64_t readLe64(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= std::uint64_t{bytes[offset + i]} << (8 * i);
    return value;
}

std::uint32_t readLe32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    return value;
}

void writeLe64(std::span<std::uint8_t> bytes, std::size_t offset, std::uint64_t value)
{
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

bool hasStationSignature(std::span<const std::uint8_t> bytes)
{
    static constexpr std::uint8_t Signature[] = {0x02, 0x48, 0x49};
    if (bytes.empty())
        return false;
    // Byte 0 says how many bytes follow it; all n + 1 must equal the three signature bytes, so any
    // length other than 2 fails (a length of 0 compares only itself, which is not 2).
    const std::size_t compared = std::size_t{bytes[0]} + 1;
    if (compared != sizeof Signature || bytes.size() < compared)
        return false;
    return std::memcmp(bytes.data(), Signature, compared) == 0;
}

std::optional<StationReport> decodeStationReport(std::span<const std::uint8_t, StationReportSize> bytes)
{
    if (!hasStationSignature(bytes))
        return std::nullopt;
    StationReport report;
    report.statusCode = std::bit_cast<std::int32_t>(readLe32(bytes, StatusCodeOffset));
    report.statusText = readShortString(bytes.subspan(StatusTextOffset, StatusTextField));
    report.start = std::bit_cast<double>(readLe64(bytes, StartOffset));
    report.finish = std::bit_cast<double>(readLe64(bytes, FinishOffset));
    report.price = std::bit_cast<double>(readLe64(bytes, PriceOffset));
    report.allowance = std::bit_cast<double>(readLe64(bytes, AllowanceOffset));
    return report;
}

std::array<std::uint8_t, StationReportSize> encodeStationReport(const StationReport& report)
{
    std::array<std::uint8_t, StationReportSize> bytes{};
    bytes[0] = 0x02;
    bytes[1] = 0x48;
    bytes[2] = 0x49;
    const std::span<std::uint8_t> out(bytes);
    writeLe32(out, StatusCodeOffset, std::bit_cast<std::uint32_t>(report.statusCode));
    writeShortString(out.subspan(StatusTextOffset, StatusTextField), report.statusText);
    writeLe64(out, StartOffset, std::bit_cast<std::uint64_t>(report.start));
    writeLe64(out, FinishOffset, std::bit_cast<std::uint64_t>(report.finish));
    writeLe64(out, PriceOffset, std::bit_cast<std::uint64_t>(report.price));
    writeLe64(out, AllowanceOffset, std::bit_cast<std::uint64_t>(report.allowance));
    return bytes;
}

} // namespace ostrel
