// Inputs that fuzz_work_report found to break the report, kept as they were found. An input is
// laid out as the fuzzer reads it: DateBeg and DateEnd (little-endian doubles), a byte that cuts
// the readable length (255: no log), then the log file.

#include "report/WorkReportBuilder.h"

#include "log/SessionLogRecord.h"
#include "support/LogTestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {
namespace {

using testing::LogTempDir;
using testing::writeLogBytes;

double doubleAt(const std::vector<std::uint8_t>& bytes, std::size_t offset)
{
    std::uint64_t bits = 0;
    for (std::size_t i = 8; i-- > 0;)
        bits = (bits << 8) | bytes[offset + i];
    return std::bit_cast<double>(bits);
}

WorkReportResult runFuzzInput(const LogTempDir& dir, const std::vector<std::uint8_t>& input)
{
    const std::string path = dir.file("Ostrel.log");
    const std::vector<std::uint8_t> log(input.begin() + 17, input.end());
    writeLogBytes(path, log);
    std::optional<std::uint64_t> length;
    if (input[16] != 255)
        length = log.size() - std::min<std::size_t>(input[16], log.size());
    return buildWorkReport(path, doubleAt(input, 0), doubleAt(input, 8), length);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (c == '\n')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// One session of 08.12.2026 whose address is "\n27.0.0.2": the report split its line in two.
const std::vector<std::uint8_t> AddressWithLineFeed = {
    0x00, 0x00, 0x00, 0x00, 0x80, 0xA3, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x80, 0xA3, 0xE6, 0x40, 0x00, 0x55, 0x55,
    0x55, 0x55, 0x8C, 0xA3, 0xE6, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3E, 0x40, 0xAB, 0xAA, 0xAA, 0xAA, 0xAA,
    0xAA, 0xDA, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x3F, 0xAB, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xDE, 0x3F,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x46, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5E, 0x0B,
    0x18, 0x76, 0x6B, 0x6A, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B,
    0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x52, 0x51, 0x69, 0x6C, 0x75, 0x6B, 0x75, 0x6B, 0x75,
    0x69, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x58, 0x8C, 0xBB, 0xAA, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B,
    0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B,
    0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x59, 0x14, 0x30, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B,
    0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B, 0x5B,
};

TEST(WorkReportFuzzCases, LineFeedInAnAddressKeepsOneLinePerSession)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    const WorkReportResult report = runFuzzInput(dir, AddressWithLineFeed);
    EXPECT_FALSE(report.damaged());
    ASSERT_EQ(report.listed.size(), 1u);
    const auto text = lines(report.text);
    ASSERT_EQ(text.size(), 3u);
    EXPECT_EQ(std::count(text[1].begin(), text[1].end(), '\t'), 9);
    EXPECT_NE(text[1].find("\tPC-01\t 27.0.0.2\t"), std::string::npos) << text[1];
}

// The same for every text and every byte that breaks a line or a column.
TEST(WorkReportFuzzCases, LineAndColumnBreaksInTextsBecomeBlanks)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const char* text : {"a\tb", "a\rb", "a\nb", "a\r\nb"}) {
        for (std::string SessionLogRecord::*field : {&SessionLogRecord::computer, &SessionLogRecord::address,
                                                     &SessionLogRecord::status, &SessionLogRecord::comment}) {
            SessionLogRecord r;
            r.closedAt = 46364.5;
            r.computer = "PC";
            r.address = "127.0.0.2";
            r.status = "S";
            r.comment = "Ok";
            r.*field = text;
            const LogRecordBytes bytes = encodeLogRecord(r);
            writeLogBytes(dir.file("Ostrel.log"), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            const WorkReportResult report = buildWorkReport(dir.file("Ostrel.log"), 46364, 46364, bytes.size());
            const auto out = lines(report.text);
            ASSERT_EQ(out.size(), 3u) << text;
            EXPECT_EQ(std::count(out[1].begin(), out[1].end(), '\t'), 9) << text;
            EXPECT_EQ(out[1].find('\r'), std::string::npos) << text;
            EXPECT_NE(out[1].find(std::string(text).size() == 3 ? "a b" : "a  b"), std::string::npos) << text;
        }
    }
}

// Made by hand when the fuzzer's check of the totals was written: two amounts near the largest
// double. Their total was infinite and shown as 0,00 in a report not marked damaged.
TEST(WorkReportFuzzCases, TotalPastTheLargestNumberIsDamage)
{
    LogTempDir dir;
    ASSERT_TRUE(dir.ok());
    std::vector<std::uint8_t> log;
    for (const double sum : {20.0, 1.7e308, 1.6e308, 30.0}) {
        SessionLogRecord r;
        r.closedAt = 46364.5;
        r.sum = sum;
        r.comment = "Ok";
        const LogRecordBytes bytes = encodeLogRecord(r);
        log.insert(log.end(), bytes.begin(), bytes.end());
    }
    writeLogBytes(dir.file("Ostrel.log"), log);
    const WorkReportResult report = buildWorkReport(dir.file("Ostrel.log"), 46364, 46364, log.size());
    EXPECT_TRUE(report.damaged());
    EXPECT_EQ(report.listed, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(report.moneyTotal, 20.0 + 1.7e308);
    EXPECT_EQ(report.moneyText, "1,7E308");
    EXPECT_EQ(lines(report.text).back(), "Итог:    Сумма: 1,7E308\tВремя: 0:0:0");
}

} // namespace
} // namespace ostrel
