#include "log/AuditTrail.h"

#include "log/AuditCheck.h"
#include "log/AuditTail.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "support/LogFolderTest.h"
#include "support/LogTestData.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using testing::ClosedAt;
using testing::paidAuditEntry;
using testing::readLogText;

using AuditTrailTest = testing::LogFolderTest;

TEST_F(AuditTrailTest, AuditLinesQuoteWhatNeedsItAndKeepOneCommandToALine)
{
    const struct
    {
        const char* name;
        AuditEntry entry;
        const char* line;
    } cases[] = {
        {"plain", paidAuditEntry(), "08.12.2026 18:00:05;op;PC-01;127.0.0.2;Игра;Игра;30,00;45;отправлена\r\n"},
        {"separator and quote", paidAuditEntry("A;\"B\""),
         "08.12.2026 18:00:05;op;\"A;\"\"B\"\"\";127.0.0.2;Игра;Игра;30,00;45;отправлена\r\n"},
        {"formula", paidAuditEntry("=1+1"), "08.12.2026 18:00:05;op;'=1+1;127.0.0.2;Игра;Игра;30,00;45;отправлена\r\n"},
        {"line break", paidAuditEntry("two\r\nlines"),
         "08.12.2026 18:00:05;op;two  lines;127.0.0.2;Игра;Игра;30,00;45;отправлена\r\n"},
        {"no tariff", AuditEntry{ClosedAt, "PC-02", "127.0.0.3", "Перезагрузка", "", {}, {}, AuditResult::NotDelivered},
         "08.12.2026 18:00:00;op;PC-02;127.0.0.3;Перезагрузка;;;;не доставлена\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = auditLine(c.entry, "op");
        EXPECT_EQ(line, c.line);
        const auto check = checkAuditLine(std::string_view(line).substr(0, line.size() - 2));
        EXPECT_FALSE(check.fault) << *check.fault;
        EXPECT_EQ(check.fields.size(), AuditFieldCount);
    }
}

TEST_F(AuditTrailTest, AuditTrailWritesItsHeaderOnceAndIsSyncedByTheLogThread)
{
    const std::string path = m_dir.file("Ostrel.audit.csv");
    SessionLog log(m_path, m_history);
    AuditTrail trail(path, log, "op");
    const auto syncs = log.syncs();
    ASSERT_TRUE(trail.append(paidAuditEntry()));
    AuditEntry later = paidAuditEntry("PC-02");
    later.result = AuditResult::NoConnection;
    trail.appendLater(later); // on the log's thread
    log.waitDurable();
    EXPECT_GT(log.syncs(), syncs);
    EXPECT_EQ(log.failedSyncs(), 0u);
    EXPECT_EQ(readLogText(path), auditHeaderLine() + auditLine(paidAuditEntry(), "op") + auditLine(later, "op"));
    EXPECT_FALSE(std::filesystem::exists(m_path)); // the session log itself was not touched
}

// A line in the file is durable only once the log's thread has synced it: while that thread's round
// is held in the session log's sync, the line written meanwhile is not.
TEST_F(AuditTrailTest, DurableLengthEndsBeforeTheFirstLineNotYetSynced)
{
    const std::string path = m_dir.file("Ostrel.audit.csv");
    SessionLog log(m_path, m_history);
    AuditTrail trail(path, log, "op");
    EXPECT_FALSE(trail.durableLength());
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    log.setSyncForTest([&](int fd) {
        std::unique_lock hold(lock);
        entered = true;
        changed.notify_all();
        changed.wait_for(hold, std::chrono::seconds(30), [&] { return released; });
        return ::fdatasync(fd) == 0;
    });
    ASSERT_TRUE(trail.append(paidAuditEntry("PC-01")));
    ASSERT_TRUE(log.waitDurable());
    const auto first = std::filesystem::file_size(path);
    EXPECT_EQ(trail.durableLength(), first);

    ASSERT_EQ(log.LogSession(testing::sampleStationRow(), "Ok"), LogResult::Appended);
    {
        std::unique_lock hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(30), [&] { return entered; }));
    }
    ASSERT_TRUE(trail.append(paidAuditEntry("PC-02"))); // while the round is held
    EXPECT_GT(std::filesystem::file_size(path), first);
    EXPECT_EQ(trail.durableLength(), first);
    {
        std::scoped_lock hold(lock);
        released = true;
        changed.notify_all();
    }
    ASSERT_TRUE(log.waitDurable());
    EXPECT_EQ(trail.durableLength(), std::filesystem::file_size(path));
}

TEST_F(AuditTrailTest, AuditAppendCutsOffALineAnAppendLeftUnfinished)
{
    const std::string header = auditHeaderLine();
    const std::string whole = auditLine(paidAuditEntry("PC-01"), "op");
    const std::string next = auditLine(paidAuditEntry("PC-02"), "op");
    const struct
    {
        const char* name;
        std::string before;
        std::string after;
    } cases[] = {
        {"whole lines", header + whole, header + whole + next},
        {"cut short", header + whole + whole.substr(0, 20), header + whole + next},
        {"open quote", header + whole + "08.12.2026 18:00:05;op;\"A;", header + whole + next},
        // Written over in place, its tail would be left behind the new line.
        {"cut short, longer than the next line",
         header + whole + "08.12.2026 18:00:05;op;\"" + std::string(next.size(), 'A'), header + whole + next},
        {"no line end yet", header + whole.substr(0, whole.size() - 1), header + next},
        {"header cut short", header.substr(0, 10), header + next},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.write("audit.csv", c.before);
        SessionLog log(m_path, m_history);
        AuditTrail trail(path, log, "op");
        ASSERT_TRUE(trail.append(paidAuditEntry("PC-02")));
        EXPECT_EQ(readLogText(path), c.after);
        for (const auto& line : checkAuditFile(readLogText(path)))
            EXPECT_FALSE(line.check.fault) << line.number << ": " << *line.check.fault;
    }
}

// A link in the trail's place: nothing is written through it, the lines wait, and one added after
// the link is gone still waits behind them.
TEST_F(AuditTrailTest, AuditLinesTheFileDoesNotTakeWaitInOrder)
{
    const std::string other = m_dir.write("theirs.csv", "theirs");
    const std::string path = m_dir.file("Ostrel.audit.csv");
    ASSERT_EQ(::symlink(other.c_str(), path.c_str()), 0);
    SessionLog log(m_path, m_history);
    AuditTrail trail(path, log, "op");
    EXPECT_FALSE(trail.append(paidAuditEntry("PC-01")));
    EXPECT_EQ(log.faults().lines, (PendingWrites{1, ELOOP}));
    for (int i = 0; i < 3000 && log.syncs() == 0; ++i) // the log thread has tried and failed
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(log.syncs(), 1u);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    EXPECT_FALSE(trail.append(paidAuditEntry("PC-02")));
    ASSERT_TRUE(log.waitDurable());
    EXPECT_EQ(readLogText(path),
              auditHeaderLine() + auditLine(paidAuditEntry("PC-01"), "op") + auditLine(paidAuditEntry("PC-02"), "op"));
    EXPECT_EQ(readLogText(other), "theirs");
    EXPECT_EQ(log.faults(), LogFaults{});
}

TEST_F(AuditTrailTest, AuditTailIsTheNewestLinesNewestFirst)
{
    std::string text = auditHeaderLine();
    for (int i = 0; i < 5; ++i)
        text += auditLine(paidAuditEntry("PC-" + std::to_string(i)), "op");
    const std::string path = m_dir.write("audit.csv", text + "08.12.2026 18:");
    const AuditTail tail = readAuditTail(path, 3);
    ASSERT_EQ(tail.status, AuditTail::Status::Read);
    ASSERT_EQ(tail.lines.size(), 3u);
    EXPECT_EQ(tail.lines[0].fields[2], "PC-4");
    EXPECT_EQ(tail.lines[2].fields[2], "PC-2");
    EXPECT_EQ(readAuditTail(path, 100).lines.size(), 5u); // the header is no command
    EXPECT_EQ(readAuditTail(m_dir.file("none.csv"), 3).status, AuditTail::Status::Missing);
}

TEST_F(AuditTrailTest, ConcurrentAuditAppendsEachWriteOneWholeLine)
{
    const std::string path = m_dir.file("Ostrel.audit.csv");
    constexpr int Threads = 4;
    constexpr int PerThread = 50;
    {
        SessionLog log(m_path, m_history);
        AuditTrail trail(path, log, "op");
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t) {
            threads.emplace_back([&trail, t] {
                for (int i = 0; i < PerThread; ++i) {
                    const AuditEntry entry = paidAuditEntry("PC-" + std::to_string(t) + "-" + std::to_string(i));
                    if (i % 2 == 0)
                        EXPECT_TRUE(trail.append(entry));
                    else
                        trail.appendLater(entry);
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
    } // the log's thread writes what was handed to it before it ends
    const auto lines = checkAuditFile(readLogText(path));
    ASSERT_EQ(lines.size(), 1u + Threads * PerThread);
    std::set<std::string> stations;
    for (const auto& line : lines) {
        EXPECT_FALSE(line.check.fault) << line.number << ": " << *line.check.fault;
        if (line.number > 1 && line.check.fields.size() == AuditFieldCount)
            stations.insert(line.check.fields[2]);
    }
    EXPECT_EQ(stations.size(), static_cast<std::size_t>(Threads * PerThread));
}

} // namespace
} // namespace ostrel
