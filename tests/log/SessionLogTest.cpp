#include "log/SessionLog.h"

#include "SessionLogTestSupport.h"

#include "log/AuditTrail.h"
#include "log/HistoryTable.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using namespace sessionlogtest;
using testing::ClosedAt;
using testing::paidAuditEntry;
using testing::readLogBytes;
using testing::readLogText;
using testing::sampleStationRow;
using testing::writeLogBytes;

TEST_F(SessionLogTest, FirstSessionCreatesTheFileWithOneRecordAndAHistoryRow)
{
    SessionLog log = makeLog(m_path);
    EXPECT_FALSE(log.stableLength());

    const StationRow row = sampleStationRow();
    ASSERT_EQ(log.LogSession(row, "Ok"), LogResult::Appended);

    const auto bytes = readLogBytes(m_path);
    ASSERT_EQ(bytes.size(), SessionLogRecordSize);
    EXPECT_EQ(log.stableLength(), SessionLogRecordSize);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u) << "every operator of the group appends, whatever the umask";

    const SessionLogRecord r = decodeLogRecord(recordAt(bytes, 0));
    EXPECT_EQ(r.closedAt, ClosedAt);
    EXPECT_DOUBLE_EQ(r.price, 30);
    EXPECT_DOUBLE_EQ(r.sum, 45);
    EXPECT_NEAR(r.start, 10.0 / 24, 1e-12);
    EXPECT_NEAR(r.duration, 1.5 / 24, 1e-12);
    EXPECT_NEAR(r.finish, 11.5 / 24, 1e-12);
    EXPECT_EQ(r.computer, row[ColComputer]);
    EXPECT_EQ(r.address, row[ColAddress]);
    EXPECT_EQ(r.status, row[ColStatus]);
    EXPECT_EQ(r.comment, "Ok");

    ASSERT_EQ(m_history.rowCount(), 3);
    HistoryRow expected{};
    std::copy(row.begin(), row.end(), expected.begin());
    expected[HistoryColComment] = "Ok";
    EXPECT_EQ(m_history.row(1), expected);
    EXPECT_EQ(m_history.row(2), HistoryRow{});
}

TEST_F(SessionLogTest, AppendOverwritesATrailingFragmentAndLeavesWholeRecordsAlone)
{
    std::vector<std::uint8_t> before(1000);
    for (std::size_t i = 0; i < before.size(); ++i)
        before[i] = static_cast<std::uint8_t>(i * 13);
    writeLogBytes(m_path, before);

    SessionLog log = makeLog(m_path);
    ASSERT_EQ(log.LogSession(sampleStationRow(), "Ok"), LogResult::Appended);

    const auto after = readLogBytes(m_path);
    ASSERT_EQ(after.size(), 1008u);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 840, after.begin()));
    EXPECT_EQ(decodeLogRecord(recordAt(after, 5)).closedAt, ClosedAt);
}

TEST_F(SessionLogTest, AppendsAfterGarbageRecordsLandOnTheNextWholeRecord)
{
    // Two records of junk (NaN dates, every length byte overlong) and a 3-byte fragment.
    std::vector<std::uint8_t> junk(2 * SessionLogRecordSize + 3, 0xFF);
    writeLogBytes(m_path, junk);

    SessionLog log = makeLog(m_path);
    ASSERT_EQ(log.LogSession(sampleStationRow("A"), "Ok"), LogResult::Appended);
    ASSERT_EQ(log.LogSession(sampleStationRow("B"), "Reset"), LogResult::Appended);

    const auto after = readLogBytes(m_path);
    ASSERT_EQ(after.size(), 4 * SessionLogRecordSize);
    EXPECT_TRUE(std::equal(junk.begin(), junk.begin() + 2 * SessionLogRecordSize, after.begin()));
    EXPECT_EQ(decodeLogRecord(recordAt(after, 2)).computer, "A");
    EXPECT_EQ(decodeLogRecord(recordAt(after, 3)).computer, "B");
    EXPECT_EQ(decodeLogRecord(recordAt(after, 3)).comment, "Reset");
}

TEST_F(SessionLogTest, HistoryGrowsByOneRowPerSessionNewestLast)
{
    SessionLog log = makeLog(m_path);
    EXPECT_FALSE(m_history.newest());
    for (const char* name : {"PC-01", "PC-02", "PC-03"}) {
        m_now += 0.01;
        ASSERT_EQ(log.LogSession(sampleStationRow(name), "Ok"), LogResult::Appended);
    }
    ASSERT_EQ(m_history.rowCount(), 5);
    EXPECT_EQ(m_history.row(1)[ColComputer], "PC-01");
    EXPECT_EQ(m_history.row(3)[ColComputer], "PC-03");
    EXPECT_EQ(m_history.newest()->at(ColComputer), "PC-03");
    EXPECT_EQ(m_history.row(4), HistoryRow{});

    const auto bytes = readLogBytes(m_path);
    ASSERT_EQ(bytes.size(), 3 * SessionLogRecordSize);
    EXPECT_LT(decodeLogRecord(recordAt(bytes, 0)).closedAt, decodeLogRecord(recordAt(bytes, 2)).closedAt);
}

TEST_F(SessionLogTest, LongTextsAreCutToTheFieldsCapacity)
{
    StationRow row = sampleStationRow(std::string(35, 'N'));
    row[ColAddress] = "192.168.100.200"; // 15 bytes, stored whole
    SessionLog log = makeLog(m_path);
    ASSERT_EQ(log.LogSession(row, "Reset"), LogResult::Appended);

    auto bytes = readLogBytes(m_path);
    ASSERT_EQ(bytes.size(), SessionLogRecordSize);
    ScrambleLogRecord(std::span<std::uint8_t, SessionLogRecordSize>(bytes.data(), SessionLogRecordSize));
    EXPECT_EQ(bytes[57], 30);
    EXPECT_EQ(bytes[88], 15);
    EXPECT_EQ(bytes[146], 5);
    EXPECT_EQ(m_history.row(1)[ColComputer].size(), 35u); // the history keeps the whole cell
}

TEST_F(SessionLogTest, UnreadableCellAppendsNothing)
{
    SessionLog log = makeLog(m_path);
    ASSERT_EQ(log.LogSession(sampleStationRow(), "Ok"), LogResult::Appended);
    const auto fileBefore = readLogBytes(m_path);
    const auto historyBefore = m_history.rows();
    const auto versionBefore = m_history.version();

    const struct
    {
        int column;
        const char* text;
    } cases[] = {
        {ColPrice, ""},         {ColPrice, "abc"}, {ColSum, ""},      {ColSum, "1,2,3"}, {ColStart, ""},
        {ColStart, "25:00:00"}, {ColElapsed, ""},  {ColElapsed, "x"}, {ColFinish, ""},   {ColFinish, "10:61:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.column) + " '" + c.text + "'");
        StationRow row = sampleStationRow();
        row[static_cast<std::size_t>(c.column)] = c.text;
        EXPECT_EQ(log.LogSession(row, "Reset"), LogResult::BadCell);
        EXPECT_EQ(readLogBytes(m_path), fileBefore);
        EXPECT_EQ(m_history.rows(), historyBefore);
        EXPECT_EQ(m_history.version(), versionBefore);
    }
}

TEST_F(SessionLogTest, AppendsWhileTheProcessHasNoDescriptorLeft)
{
    // Nothing polymorphic is touched while no descriptor is left: UBSan's check of a dynamic type
    // needs a descriptor of its own.
    SessionLog log(m_path, m_history, [] { return ClosedAt; });
    const std::string auditPath = m_dir.file("Ostrel.audit.csv");
    AuditTrail trail(auditPath, log, "op"); // keeps a reserve of its own
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int probe = dup(0);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(probe + 8);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<int> taken; // as a flood of connections would take them
    for (int fd = dup(0); fd >= 0 && taken.size() < 64; fd = dup(0))
        taken.push_back(fd);

    // Twice: the descriptor in reserve is taken again after each append.
    const LogResult first = log.LogSession(sampleStationRow("PC-01"), "Reset");
    const LogResult second = log.LogSession(sampleStationRow("PC-02"), "Reset");
    const bool audited = trail.append(paidAuditEntry());
    const bool stillNone = dup(0) < 0;
    for (const int fd : taken)
        ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    EXPECT_EQ(first, LogResult::Appended);
    EXPECT_EQ(second, LogResult::Appended);
    EXPECT_TRUE(audited);
    EXPECT_TRUE(stillNone);
    EXPECT_EQ(readLogBytes(m_path).size(), 2 * SessionLogRecordSize);
    EXPECT_EQ(readLogText(auditPath), auditHeaderLine() + auditLine(paidAuditEntry(), "op"));
    EXPECT_EQ(m_history.rowCount(), 4);
}

// Appends from several threads at once, released together. No table lock is taken here: the log's
// own lock alone keeps each record whole and in a place of its own and the history table in step
// with the file (the table mutex that callers hold guards the history against its readers). Without
// that lock two appends find the same end of file and one record is lost, or the history table is
// grown by two threads at once, which ThreadSanitizer reports as well. A reader takes the length
// meanwhile, as the work report does.
TEST_F(SessionLogTest, ConcurrentAppendsEachWriteOneWholeRecordOfTheirOwn)
{
    SessionLog log(m_path, m_history);
    log.skipSyncForBenchmark(); // the sync is not what this test is about; without it the appends collide more
    constexpr int Threads = 4;
    constexpr int PerThread = 200;
    std::atomic<int> ready{0};
    std::atomic<int> failedAppends{0};
    const auto computer = [](int thread, int i) {
        std::string name = "T";
        name += std::to_string(thread);
        name += '-';
        name += std::to_string(i);
        return name;
    };
    std::atomic<int> tornLengths{0};
    std::atomic<bool> appending{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < Threads)
                std::this_thread::yield();
            for (int i = 0; i < PerThread; ++i) {
                if (log.LogSession(sampleStationRow(computer(t, i)), "Ok") != LogResult::Appended)
                    failedAppends.fetch_add(1);
            }
        });
    }
    std::thread reader([&] {
        while (appending.load()) {
            if (const auto length = log.stableLength(); length && *length % SessionLogRecordSize != 0)
                tornLengths.fetch_add(1);
        }
    });
    for (auto& thread : threads)
        thread.join();
    appending = false;
    reader.join();
    EXPECT_EQ(failedAppends.load(), 0);
    EXPECT_EQ(tornLengths.load(), 0);

    std::multiset<std::string> expected;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i)
            expected.insert(computer(t, i));
    const auto bytes = readLogBytes(m_path);
    ASSERT_EQ(bytes.size(), Threads * PerThread * SessionLogRecordSize);
    std::multiset<std::string> inFile;
    std::multiset<std::string> inHistory;
    for (std::size_t i = 0; i < Threads * PerThread; ++i) {
        const SessionLogRecord r = decodeLogRecord(recordAt(bytes, i));
        EXPECT_EQ(r.comment, "Ok");
        inFile.insert(r.computer);
    }
    ASSERT_EQ(m_history.rowCount(), 2 + Threads * PerThread);
    for (int r = 1; r <= Threads * PerThread; ++r)
        inHistory.insert(m_history.row(r)[ColComputer]);
    EXPECT_EQ(inFile, expected);
    EXPECT_EQ(inHistory, expected);
}

} // namespace
} // namespace ostrel
