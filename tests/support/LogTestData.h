#pragma once

#include "core/StationRow.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace ostrel::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class LogTempDir
{
public:
    LogTempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-log-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~LogTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    LogTempDir(const LogTempDir&) = delete;
    LogTempDir& operator=(const LogTempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

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
