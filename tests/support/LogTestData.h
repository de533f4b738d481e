#pragma once

#include "core/StationRow.h"
#include "log/AuditLine.h"
#include "support/TempFolder.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ostrel::testing {

using LogTempDir = TempFolder;

constexpr double ClosedAt = 46364.75; // 08.12.2026 18:00, when the sample session ends

// A paid session as the station table shows it when it ends; the status is the tariff "Час".
inline StationRow sampleStationRow(std::string computer = "PC-01")
{
    return {std::move(computer), "127.0.0.2", "\xD7\xE0\xF1", "30,00", "10:00:00",
            "1:30:00",           "11:30:00",  "0:00:00",      "45,00"};
}

inline std::vector<std::uint8_t> readLogBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeLogBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readLogText(const std::string& path)
{
    const auto bytes = readLogBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A game of 45 minutes at 30,00 sent at 08.12.2026 18:00:05.
inline AuditEntry paidAuditEntry(std::string station = "PC-01")
{
    AuditEntry e;
    e.at = ClosedAt + 5.0 / 86400;
    e.station = std::move(station);
    e.address = "127.0.0.2";
    e.command = "Игра";
    e.tariff = "\xC8\xE3\xF0\xE0"; // Игра in Windows-1251
    e.price = 30;
    e.minutes = 45;
    return e;
}

} // namespace ostrel::testing
