// The log thread's syncs: when an append counts as durable, and what a failed sync writes again.

#include "log/SessionLog.h"

#include "SessionLogTestSupport.h"

#include "core/FileIo.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace ostrel {
namespace {

using namespace sessionlogtest;
using testing::readLogBytes;
using testing::sampleStationRow;

TEST_F(SessionLogTest, AppendsAreWrittenAtOnceAndMadeDurableByTheLogThreadWhichThenLetsTheFileGo)
{
    const auto openDescriptors = [] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    };
    SessionLog log = makeLog(m_path);
    const std::size_t idle = openDescriptors();
    constexpr std::size_t Appends = 50;
    for (std::size_t i = 0; i < Appends; ++i) {
        ASSERT_EQ(log.LogSession(sampleStationRow("PC-" + std::to_string(i)), "Ok"), LogResult::Appended);
        // In the file already: a process killed now keeps it.
        ASSERT_EQ(readLogBytes(m_path).size(), (i + 1) * SessionLogRecordSize);
    }
    log.waitDurable();
    EXPECT_GE(log.syncs(), 1u);
    EXPECT_LE(log.syncs(), Appends);
    EXPECT_EQ(log.failedSyncs(), 0u);
    EXPECT_EQ(openDescriptors(), idle) << "the log file stayed open after its sync";
}

// A sync that fails may have lost the written pages: the bytes are written again from memory and
// synced again, and only then count as durable.
TEST_F(SessionLogTest, AFailedSyncWritesTheBytesAgainFromMemory)
{
    SessionLog log = makeLog(m_path);
    std::atomic<int> calls{0};
    log.setSyncForTest([&calls](int fd) {
        if (++calls > 1)
            return ::fdatasync(fd) == 0;
        const std::vector<std::uint8_t> lost(SessionLogRecordSize, 0); // as if the pages were dropped
        EXPECT_TRUE(writeAllAt(fd, lost.data(), lost.size(), 0));
        errno = EIO;
        return false;
    });
    ASSERT_EQ(log.LogSession(sampleStationRow("KEPT"), "Ok"), LogResult::Appended);
    ASSERT_TRUE(log.waitDurable());
    EXPECT_EQ(log.failedSyncs(), 1u);
    EXPECT_GE(calls.load(), 2);
    EXPECT_EQ(computersIn(m_path), std::vector<std::string>{"KEPT"});
}

// The durable mark is what a sync covered: an append that lands while a sync runs waits for the
// next one.
TEST_F(SessionLogTest, AnAppendDuringASyncIsDurableOnlyAfterTheNextSync)
{
    SessionLog log = makeLog(m_path);
    std::mutex lock;
    std::condition_variable changed;
    int entered = 0;
    int released = 0;
    log.setSyncForTest([&](int fd) {
        std::unique_lock hold(lock);
        const int call = ++entered;
        changed.notify_all();
        changed.wait_for(hold, std::chrono::seconds(30), [&] { return released >= call; });
        return ::fdatasync(fd) == 0;
    });
    const auto waitEntered = [&](int n) {
        std::unique_lock hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(30), [&] { return entered >= n; });
    };
    const auto release = [&](int n) {
        std::scoped_lock hold(lock);
        released = n;
        changed.notify_all();
    };

    ASSERT_EQ(log.LogSession(sampleStationRow("A"), "Ok"), LogResult::Appended);
    ASSERT_TRUE(waitEntered(1));
    EXPECT_EQ(log.durableLength(), 0u);                                          // in the file, not yet durable
    ASSERT_EQ(log.LogSession(sampleStationRow("B"), "Ok"), LogResult::Appended); // during the first sync
    release(1);
    ASSERT_TRUE(waitEntered(2));
    EXPECT_EQ(log.durableAppends(), 1u);
    EXPECT_EQ(log.durableLength(), SessionLogRecordSize);
    EXPECT_EQ(log.stableLength(), 2 * SessionLogRecordSize);
    release(2);
    ASSERT_TRUE(log.waitDurable());
    EXPECT_EQ(log.durableAppends(), 2u);
    EXPECT_EQ(log.durableLength(), 2 * SessionLogRecordSize);
}

} // namespace
} // namespace ostrel
