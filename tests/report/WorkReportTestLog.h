#pragma once

// A session log written to a temporary file, and the records it holds, for the work report's and
// the cash shift's tests.

#include "core/DateTime.h"
#include "log/SessionLogRecord.h"
#include "report/WorkReportBuilder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrel::reporttest {

inline double day(int d, int m, int y)
{
    return *encodeDate(y, m, d);
}

inline double hms(int h, int m, int s)
{
    return encodeTime(h, m, s);
}

inline SessionLogRecord session(double closedAt, double sum = 100, double duration = hms(1, 0, 0))
{
    SessionLogRecord r;
    r.closedAt = closedAt;
    r.price = 60;
    r.start = hms(9, 5, 0);
    r.duration = duration;
    r.finish = hms(10, 5, 0);
    r.sum = sum;
    r.computer = "\xCA\xEE\xEC\xEF 1"; // "Комп 1"
    r.address = "192.168.0.11";
    r.status = "\xD7\xE0\xF1"; // "Час"
    r.comment = "Ok";
    return r;
}

class LogFile
{
public:
    LogFile()
    {
        m_path = (std::filesystem::temp_directory_path() /
                  ("ostrel-report-test-" + std::to_string(::getpid()) + "-" + std::to_string(++s_counter) + ".log"))
                     .string();
        std::filesystem::remove(m_path);
    }
    ~LogFile() { std::filesystem::remove(m_path); }

    LogFile& add(const SessionLogRecord& r)
    {
        const auto bytes = encodeLogRecord(r);
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    LogFile& addRaw(std::vector<std::uint8_t> bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const std::string& write()
    {
        std::ofstream(m_path, std::ios::binary)
            .write(reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::streamsize>(m_bytes.size()));
        return m_path;
    }
    std::uint64_t length() const { return m_bytes.size(); }
    const std::string& path() const { return m_path; }

    WorkReportResult report(double beg, double end)
    {
        write();
        return buildWorkReport(m_path, beg, end, length());
    }

private:
    static inline int s_counter = 0;
    std::string m_path;
    std::vector<std::uint8_t> m_bytes;
};

} // namespace ostrel::reporttest
