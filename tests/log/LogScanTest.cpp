#include "log/LogScan.h"

#include "log/SessionLogRecord.h"
#include "support/LogTestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel {
namespace {

using testing::LogTempDir;
using testing::writeLogBytes;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::vector<std::uint8_t> logOf(const std::vector<double>& closedAt)
{
    std::vector<std::uint8_t> bytes;
    SessionLogRecord r;
    r.computer = std::string("PC");
    r.comment = std::string("Ok");
    for (const double at : closedAt) {
        r.closedAt = at;
        const LogRecordBytes one = encodeLogRecord(r);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

TEST(LogScan, ReportsRecordsFragmentsAndTheFirstBadDate)
{
    const struct
    {
        const char* name;
        std::vector<double> closedAt;
        std::size_t extraBytes;
        std::uint64_t records;
        std::optional<std::uint64_t> firstBadDate;
        LogDateFault fault;
    } cases[] = {
        {"empty", {}, 0, 0, {}, LogDateFault::None},
        {"fragment only", {}, 100, 0, {}, LogDateFault::None},
        {"ordered, equal times allowed", {46000, 46000, 46000.5}, 0, 3, {}, LogDateFault::None},
        {"five and a fragment", {1, 2, 3, 4, 5}, 160, 5, {}, LogDateFault::None},
        {"NaN", {46000, NaN, 46001}, 0, 3, 1, LogDateFault::NotValid},
        {"infinity", {std::numeric_limits<double>::infinity()}, 0, 1, 0, LogDateFault::NotValid},
        {"beyond year 9999", {46000, 1e300}, 0, 2, 1, LogDateFault::NotValid},
        {"backwards", {46000, 46002, 46001, 45000}, 0, 4, 2, LogDateFault::Backwards},
        {"backwards past a NaN", {46002, NaN, 46001}, 0, 3, 1, LogDateFault::NotValid},
    };
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = logOf(c.closedAt);
        bytes.resize(bytes.size() + c.extraBytes, 0x5B);
        writeLogBytes(dir.file("Ostrel.log"), bytes);

        std::vector<double> seen;
        const LogScanResult result = scanLogFile(dir.file("Ostrel.log"), [&](const LogScanEntry& e) {
            EXPECT_EQ(e.index, seen.size());
            EXPECT_EQ(e.offset, seen.size() * SessionLogRecordSize);
            seen.push_back(e.closedAt);
            return true;
        });
        EXPECT_EQ(result.status, LogScanStatus::Complete);
        EXPECT_EQ(result.records, c.records);
        EXPECT_EQ(seen.size(), c.records);
        EXPECT_EQ(result.fragmentBytes, c.extraBytes);
        EXPECT_EQ(result.firstBadDate, c.firstBadDate);
        EXPECT_EQ(result.badDateFault, c.fault);
        EXPECT_EQ(result.intact(), c.extraBytes == 0 && !c.firstBadDate);
    }
}

TEST(LogScan, ReadsAcrossBufferBoundariesAndStopsWhenAsked)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<double> times;
    for (int i = 0; i < 10'000; ++i) // more than one read's worth
        times.push_back(46000 + i / 1440.0);
    auto bytes = logOf(times);
    bytes.resize(bytes.size() + 7);
    writeLogBytes(dir.file("Ostrel.log"), bytes);

    std::uint64_t count = 0;
    bool ordered = true;
    auto all = scanLogFile(dir.file("Ostrel.log"), [&](const LogScanEntry& e) {
        ordered = ordered && e.closedAt == times[e.index] && decodeLogRecord(e.bytes).computer == "PC";
        ++count;
        return true;
    });
    EXPECT_EQ(all.records, 10'000u);
    EXPECT_EQ(count, 10'000u);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(all.fragmentBytes, 7u);

    auto stopped = scanLogFile(dir.file("Ostrel.log"), [](const LogScanEntry& e) { return e.index < 4999; });
    EXPECT_EQ(stopped.status, LogScanStatus::Stopped);
    EXPECT_EQ(stopped.records, 5000u);
    EXPECT_EQ(stopped.fragmentBytes, 0u);

    // A length limit shows the file as a given append left it.
    auto limited = scanLogFile(dir.file("Ostrel.log"), {}, 3 * SessionLogRecordSize + 10);
    EXPECT_EQ(limited.status, LogScanStatus::Complete);
    EXPECT_EQ(limited.records, 3u);
    EXPECT_EQ(limited.fragmentBytes, 10u);
}

TEST(LogScan, MissingAndUnopenableFiles)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    EXPECT_EQ(scanLogFile(dir.file("none.log"), {}).status, LogScanStatus::Missing);
    const auto onDirectory = scanLogFile(dir.file(""), {});
    EXPECT_TRUE(onDirectory.status == LogScanStatus::ReadFailed || onDirectory.status == LogScanStatus::OpenFailed);
    EXPECT_FALSE(onDirectory.intact());
}

TEST(LogScan, FlagsOverlongLengthBytes)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    auto bytes = logOf({46000, 46001, 46002});
    bytes[SessionLogRecordSize + 57] = 31 ^ 0x5B; // computer capacity is 30
    writeLogBytes(dir.file("Ostrel.log"), bytes);
    const auto result = scanLogFile(dir.file("Ostrel.log"), {});
    EXPECT_EQ(result.firstBadLength, 1u);
    EXPECT_FALSE(result.intact());
}

} // namespace
} // namespace ostrel
