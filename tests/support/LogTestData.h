#pragma once

#include "core/StationRow.h"
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

} // namespace ostrel::testing
