// An appender killed with SIGKILL at random moments, again and again, on the same log: every whole
// record must stay intact and in place, nothing acknowledged may be lost, and the next append must
// repair a trailing fragment. The appender goes through SessionLog::LogSession, the server's own
// append code.

#include "log/LogScan.h"
#include "log/SessionLogRecord.h"
#include "support/LogTestData.h"
#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using proctest::ChildProcess;

// The highest record number the appender acknowledged, from its output; -1 for none.
long lastAcknowledged(const std::string& outputPath)
{
    const std::string text = proctest::readWholeFile(outputPath);
    const auto end = text.rfind('\n');
    if (end == std::string::npos)
        return -1;
    const auto begin = text.rfind('\n', end - 1);
    return std::stol(text.substr(begin == std::string::npos ? 0 : begin + 1, end));
}

struct LogState
{
    std::uint64_t records = 0;
    std::uint64_t fragmentBytes = 0;
    std::string fault; // empty when every whole record is record n of the appender's sequence
};

LogState inspect(const std::string& path)
{
    LogState state;
    const auto result = scanLogFile(path, [&](const LogScanEntry& entry) {
        const auto record = decodeLogRecord(entry.bytes);
        const std::string expected = "PC-" + std::to_string(entry.index);
        if (record.computer != expected || record.comment != "Reset" ||
            record.closedAt != 46000.0 + static_cast<double>(entry.index) / 86400.0) {
            state.fault = "record " + std::to_string(entry.index) + " is " + record.computer + ", expected " + expected;
            return false;
        }
        return true;
    });
    state.records = result.records;
    state.fragmentBytes = result.fragmentBytes;
    return state;
}

proctest::CommandRun checkWithTool(const std::string& path)
{
    return proctest::runCommand(std::string("'") + OSTREL_LOG_TOOL + "' check '" + path + "'");
}

// The tool's verdict: intact, or damaged by nothing but a trailing fragment.
void expectOnlyAFragmentAtMost(const proctest::CommandRun& check, std::uint64_t fragmentBytes)
{
    if (fragmentBytes == 0) {
        EXPECT_EQ(check.exitCode, 0) << check.output;
        EXPECT_NE(check.output.find("\nintact\n"), std::string::npos) << check.output;
        return;
    }
    EXPECT_EQ(check.exitCode, 1) << check.output;
    EXPECT_NE(check.output.find("trailing fragment: " + std::to_string(fragmentBytes) + " bytes"), std::string::npos)
        << check.output;
    EXPECT_EQ(check.output.find("record "), std::string::npos) << "a whole record is damaged:\n" << check.output;
}

class LogCrash : public ::testing::Test
{
protected:
    testing::LogTempDir m_dir; // first: the paths below are made from it
    std::string m_log = m_dir.file("Ostrel.log");
    std::string m_out = m_dir.file("appender.out");
    std::string m_err = m_dir.file("appender.err");

    ChildProcess startAppender(long count = 0)
    {
        std::vector<std::string> argv{OSTREL_LOG_APPENDER, m_log};
        if (count > 0)
            argv.push_back(std::to_string(count));
        return ChildProcess(argv, m_out, m_err);
    }
};

TEST_F(LogCrash, KilledAtRandomMomentsWholeRecordsStayAndNothingAcknowledgedIsLost)
{
    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 40); // milliseconds of appending before the kill
    // All of them however slow the machine: each wait below has its own bound, and the count of
    // records at the end must not depend on how many runs fit into some wall time.
    constexpr int Iterations = 30;
    std::uint64_t before = 0;

    for (int i = 0; i < Iterations; ++i) {
        SCOPED_TRACE("iteration " + std::to_string(i));
        // Now and then a torn write, as a power loss leaves it: the next run must write over it.
        if (i % 5 == 4 && before > 0)
            std::filesystem::resize_file(m_log,
                                         before * SessionLogRecordSize + 1 + static_cast<unsigned>(i) * 37 % 167);

        ChildProcess appender = startAppender();
        ASSERT_TRUE(appender.started());
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (lastAcknowledged(m_out) < static_cast<long>(before) && appender.running() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        ASSERT_GE(lastAcknowledged(m_out), static_cast<long>(before))
            << "the appender made no append: " << proctest::readWholeFile(m_err);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        appender.kill();
        const long acknowledged = lastAcknowledged(m_out);

        const LogState state = inspect(m_log);
        EXPECT_EQ(state.fault, "");
        // Everything acknowledged is there; at most the append under way when the kill came is more.
        EXPECT_GE(state.records, static_cast<std::uint64_t>(acknowledged + 1));
        EXPECT_LE(state.records, static_cast<std::uint64_t>(acknowledged + 2));
        EXPECT_GT(state.records, before);
        expectOnlyAFragmentAtMost(checkWithTool(m_log), state.fragmentBytes);
        before = state.records;
        if (HasFatalFailure() || HasFailure())
            return;
    }
    EXPECT_GE(before, static_cast<std::uint64_t>(Iterations));
}

TEST_F(LogCrash, NextAppendRepairsATrailingFragment)
{
    {
        ChildProcess appender = startAppender(3);
        ASSERT_TRUE(appender.waitExit(20s).has_value());
    }
    ASSERT_EQ(inspect(m_log).records, 3u);
    for (const std::uintmax_t fragment : {1u, 87u, 167u}) {
        SCOPED_TRACE("fragment of " + std::to_string(fragment));
        const std::uint64_t records = inspect(m_log).records;
        std::filesystem::resize_file(m_log, records * SessionLogRecordSize + fragment);
        expectOnlyAFragmentAtMost(checkWithTool(m_log), fragment);

        ChildProcess appender = startAppender(1);
        const auto status = appender.waitExit(20s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        const LogState state = inspect(m_log);
        EXPECT_EQ(state.fault, "");
        EXPECT_EQ(state.records, records + 1);
        EXPECT_EQ(state.fragmentBytes, 0u);
        expectOnlyAFragmentAtMost(checkWithTool(m_log), 0);
    }
}

} // namespace
} // namespace ostrel
