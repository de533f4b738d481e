#include "stations/StationReport.h"

#include "core/LittleEndian.h"
#include "core/ShortString.h"

#include <algorithm>

namespace ostrel {

namespace {

constexpr std::size_t StatusCodeOffset = 24;
constexpr std::size_t StatusTextOffset = 32;
constexpr std::size_t StatusTextField = 24; // length byte and 23 characters
constexpr std::size_t StartOffset = 56;
constexpr std::size_t FinishOffset = 64;
constexpr std::size_t PriceOffset = 72;
constexpr std::size_t AllowanceOffset = 80;

} // namespace

bool hasStationSignature(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return false;
    // Byte 0 says how many bytes follow it; all n + 1 must equal the three signature bytes, so any
    // length other than 2 fails (a length of 0 compares only itself, which is not 2).
    const std::size_t compared = std::size_t{bytes[0]} + 1;
    if (compared != RecordSignature.size() || bytes.size() < compared)
        return false;
    return std::equal(RecordSignature.begin(), RecordSignature.end(), bytes.begin());
}

std::optional<StationReport> decodeStationReport(std::span<const std::uint8_t, StationReportSize> bytes)
{
    if (!hasStationSignature(bytes))
        return std::nullopt;
    StationReport report;
    report.statusCode = readLe<std::int32_t>(bytes, StatusCodeOffset);
    report.statusText = readShortString(bytes.subspan(StatusTextOffset, StatusTextField));
    report.start = readLe<double>(bytes, StartOffset);
    report.finish = readLe<double>(bytes, FinishOffset);
    report.price = readLe<double>(bytes, PriceOffset);
    report.allowance = readLe<double>(bytes, AllowanceOffset);
    return report;
}

std::array<std::uint8_t, StationReportSize> encodeStationReport(const StationReport& report)
{
    std::array<std::uint8_t, StationReportSize> bytes{};
    std::ranges::copy(RecordSignature, bytes.begin());
    const std::span<std::uint8_t> out(bytes);
    writeLe(out, StatusCodeOffset, report.statusCode);
    writeShortString(out.subspan(StatusTextOffset, StatusTextField), report.statusText);
    writeLe(out, StartOffset, report.start);
    writeLe(out, FinishOffset, report.finish);
    writeLe(out, PriceOffset, report.price);
    writeLe(out, AllowanceOffset, report.allowance);
    return bytes;
}

} // namespace ostrel
