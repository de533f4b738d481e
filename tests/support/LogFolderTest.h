#pragma once

#include "log/HistoryTable.h"
#include "support/LogTestData.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrel::testing {

// A folder of its own for each test, the path of a log not yet written in it, and the history table
// that the log's sessions go to.
class LogFolderTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.ok()); }

    LogTempDir m_dir;
    std::string m_path = m_dir.file("Ostrel.log");
    HistoryTable m_history;
};

} // namespace ostrel::testing
