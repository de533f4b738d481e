#pragma once

// What the session log tests share: a log in a folder of its own, on a clock the test sets, and
// readers of the records it wrote.

#include "log/SessionLog.h"
#include "log/SessionLogRecord.h"
#include "support/LogFolderTest.h"
#include "support/LogTestData.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ostrel::sessionlogtest {

// A log at `path` whose sessions go to the folder's history table and close at m_now; recordAt
// views the index-th record of a file's bytes.
class SessionLogTest : public testing::LogFolderTest
{
protected:
    SessionLog makeLog(const std::string& path)
    {
        return SessionLog(path, m_history, [this] { return m_now; });
    }

    std::span<const std::uint8_t, SessionLogRecordSize> recordAt(const std::vector<std::uint8_t>& bytes,
                                                                 std::size_t index)
    {
        return std::span<const std::uint8_t, SessionLogRecordSize>(bytes.data() + index * SessionLogRecordSize,
                                                                   SessionLogRecordSize);
    }

    double m_now = testing::ClosedAt;
};

// The computer of every whole record in the file at `path`, in file order.
inline std::vector<std::string> computersIn(const std::string& path)
{
    const auto bytes = testing::readLogBytes(path);
    std::vector<std::string> names;
    for (std::size_t at = 0; at + SessionLogRecordSize <= bytes.size(); at += SessionLogRecordSize)
        names.push_back(decodeLogRecord(std::span<const std::uint8_t, SessionLogRecordSize>(bytes.data() + at,
                                                                                            SessionLogRecordSize))
                            .computer);
    return names;
}

} // namespace ostrel::sessionlogtest
