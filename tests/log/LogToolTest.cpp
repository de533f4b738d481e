// Runs the built ostrel-log on prepared files.

#include "core/DateTime.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"
#include "support/LogTestData.h"
#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string_view>

namespace ostrel {
namespace {

using testing::LogTempDir;
using testing::writeLogBytes;

using ToolRun = proctest::CommandRun;

ToolRun runTool(const std::string& arguments, const std::string& inFolder = {})
{
#ifndef OSTREL_LOG_TOOL
    (void)arguments;
    (void)inFolder;
    return {};
#else
    std::string command = std::string("'") + OSTREL_LOG_TOOL + "' " + arguments;
    if (!inFolder.empty())
        command = "cd '" + inFolder + "' && " + command;
    return proctest::runCommand(command);
#endif
}

SessionLogRecord record(double closedAt, std::string computer = "PC-01")
{
    SessionLogRecord r;
    r.closedAt = closedAt;
    r.price = 30;
    r.start = 10.0 / 24;
    r.duration = 1.5 / 24;
    r.finish = 11.5 / 24;
    r.sum = 45;
    r.computer = std::move(computer);
    r.address = "127.0.0.2";
    r.status = "\xD7\xE0\xF1"; // Час
    r.comment = "Ok";
    return r;
}

std::vector<std::uint8_t> fileOf(const std::vector<SessionLogRecord>& records, std::size_t fragment = 0)
{
    std::vector<std::uint8_t> bytes;
    for (const auto& r : records) {
        const auto one = encodeLogRecord(r);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    bytes.resize(bytes.size() + fragment, 0x5B);
    return bytes;
}

// The tool's exit code, and a text it must say among whatever else it says.
void expectRun(const ToolRun& run, int exitCode, std::string_view says)
{
    EXPECT_EQ(run.exitCode, exitCode) << run.output;
    EXPECT_NE(run.output.find(says), std::string::npos) << run.output;
}

// A check's run, which also names the file intact or damaged as its exit code does.
void expectVerdict(const ToolRun& run, int exitCode, std::string_view says)
{
    expectRun(run, exitCode, says);
    EXPECT_NE(run.output.find(exitCode == 0 ? "intact" : "damaged"), std::string::npos) << run.output;
}

class LogTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
#ifndef OSTREL_LOG_TOOL
        GTEST_SKIP() << "built without the ostrel-log tool";
#endif
        ASSERT_TRUE(m_dir.ok());
    }
    std::string write(const std::vector<std::uint8_t>& bytes)
    {
        writeLogBytes(m_path, bytes);
        return "'" + m_path + "'";
    }

    LogTempDir m_dir;
    std::string m_path = m_dir.file("Ostrel.log");
};

constexpr double Evening = 46364.75; // 08.12.2026 18:00:00

TEST_F(LogTool, CheckTellsIntactFromDamagedFiles)
{
    const double NaN = std::numeric_limits<double>::quiet_NaN();
    auto overlong = fileOf({record(Evening), record(Evening)});
    overlong[SessionLogRecordSize + 146] = 200 ^ 0x5B;
    auto twoOverlong = fileOf({record(Evening), record(Evening), record(Evening)});
    twoOverlong[SessionLogRecordSize + 146] = 200 ^ 0x5B;
    twoOverlong[2 * SessionLogRecordSize + 146] = 200 ^ 0x5B;

    const struct
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int exitCode;
        const char* says;
    } cases[] = {
        {"empty", {}, 0, "0 records"},
        {"intact", fileOf({record(Evening), record(Evening + 0.01)}), 0, "2 records"},
        {"fragment", fileOf({record(Evening)}, 10), 1, "trailing fragment: 10 bytes at offset 168"},
        {"fragment only", fileOf({}, 167), 1, "trailing fragment: 167 bytes at offset 0"},
        {"NaN", fileOf({record(Evening), record(NaN)}), 1, "record 1 (offset 168): ClosedAt NaN is not a valid"},
        {"backwards", fileOf({record(Evening), record(Evening - 1)}), 1,
         "ClosedAt 07.12.2026 18:00:00 is earlier than 08.12.2026 18:00:00"},
        {"overlong length", overlong, 1, "record 1 (offset 168): a text length exceeds its field"},
        {"two overlong lengths: the first is named", twoOverlong, 1,
         "record 1 (offset 168): a text length exceeds its field"},
        {"garbage", std::vector<std::uint8_t>(3 * SessionLogRecordSize, 0xFF), 1, "3 records"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectVerdict(runTool("check " + write(c.bytes)), c.exitCode, c.says);
    }
}

TEST_F(LogTool, DumpShowsEveryRecordDecodedEvenWhenDamaged)
{
    auto bytes = fileOf({record(Evening), record(std::numeric_limits<double>::infinity(), "TAB\tNAME")});
    bytes.resize(bytes.size() + SessionLogRecordSize, 0xFF); // NaN everywhere, every length overlong
    bytes.resize(bytes.size() + 20);
    const ToolRun run = runTool("dump " + write(bytes));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("0\t08.12.2026 18:00:00\tPC-01\t127.0.0.2\t\xD0\xA7\xD0\xB0\xD1\x81\t30,00\t10:00:00\t"
                              "1:30:00\t11:30:00\t45,00\tOk\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("1\tInf\tTAB\\x09NAME\t"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("2\tNaN\t"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("trailing fragment of 20 bytes"), std::string::npos) << run.output;
}

// The same file the report window exports for a period, here over the whole log.
TEST_F(LogTool, CsvWritesWhatTheReportWindowExports)
{
    const std::string header = "\xEF\xBB\xBF"
                               "Закрыто;Компьютер;Адрес;Статус;Цена;Начало;Длительность;Конец;Сумма;Коментарий\r\n";
    const std::string rowEnd = ";127.0.0.2;\xD0\xA7\xD0\xB0\xD1\x81;30,00;10:00:00;1:30:00;11:30:00;45,00;Ok\r\n";
    auto bad = fileOf({record(Evening, "PC-01"), record(Evening + 0.01, "PC-02")});
    bad[SessionLogRecordSize + 6] = 0xFF; // the second record's ClosedAt becomes NaN
    bad[SessionLogRecordSize + 7] = 0xFF;
    const struct
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int exitCode;
        std::vector<std::string> says;
    } cases[] = {
        {"quoted texts",
         fileOf({record(Evening, "PC \"A\"; 1"), record(Evening, "two\nlines"), record(Evening, "=1+2")}),
         0,
         {header + "08.12.2026 18:00:00;\"PC \"\"A\"\"; 1\"" + rowEnd, "08.12.2026 18:00:00;\"two\nlines\"" + rowEnd,
          "08.12.2026 18:00:00;'=1+2" + rowEnd, "\r\nИтог;3;135,00;4:30:00\r\n"}},
        {"a repeat listed, not totalled",
         fileOf({record(Evening, "PC-01"), record(Evening + 0.001, "PC-01")}),
         0,
         {"\r\nPC-01;1;45,00;1:30:00\r\n", "\r\nПовторных записей не учтено: 1\r\n"}},
        {"damaged: what is before the damage", bad, 1, {"\r\nИтог;1;45,00;1:30:00\r\n", "damaged; the damaged record"}},
        {"empty log", {}, 0, {header, "\r\nИтог;0;0,00;0:00:00\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runTool("csv " + write(c.bytes));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        for (const std::string& text : c.says)
            EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
    }
}

// Another kind of file is refused, not shown as made-up records or raw bytes.
TEST_F(LogTool, RefusesAFileOfAnotherKind)
{
    AuditEntry entry;
    entry.at = Evening;
    entry.command = "Перезагрузка";
    const std::string audit = auditHeaderLine() + auditLine(entry, "op") + auditLine(entry, "op");
    const std::vector<std::uint8_t> auditBytes(audit.begin(), audit.end());
    const std::vector<std::uint8_t> log = fileOf({record(Evening), record(Evening + 0.01)});
    const struct
    {
        const char* command;
        std::vector<std::uint8_t> bytes;
        int exitCode;
        const char* says;
    } cases[] = {
        {"dump", auditBytes, 2, "not a session log"},
        {"csv", auditBytes, 2, "not a session log"},
        {"dump", fileOf({}, 100), 2, "not a session log"},
        {"dump", fileOf({record(0.5)}), 2, "not a session log"}, // 30.12.1899
        {"dump", fileOf({record(*encodeDate(2200, 1, 1))}), 2, "not a session log"},
        {"dump", fileOf({record(*encodeDate(2199, 12, 31))}), 0, "31.12.2199"},
        {"dump", fileOf({record(*encodeDate(1990, 1, 1))}), 0, "01.01.1990"},
        {"dump", {}, 0, "#\tClosedAt"},
        {"audit", log, 2, "not a text file"},
        {"cash", log, 2, "not a text file"},
        {"audit", {'\x7F'}, 2, "not a text file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + std::to_string(c.bytes.size()) + " bytes");
        const ToolRun run = runTool(std::string(c.command) + " " + write(c.bytes));
        expectRun(run, c.exitCode, c.says);
        if (c.exitCode == 2) {
            EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << "one line, none of the file";
        }
    }
}

TEST_F(LogTool, ArgumentsAndMissingFiles)
{
    write(fileOf({record(Evening)}));
    expectRun(runTool("check", m_dir.file("")), 0, "Ostrel.log: 1 records");
    expectRun(runTool("dump '" + m_dir.file("none.log") + "'"), 2, "none.log: no such file");

    EXPECT_EQ(runTool("--help").exitCode, 0);
    EXPECT_EQ(runTool("").exitCode, 2);
    EXPECT_EQ(runTool("frobnicate x").exitCode, 2);
    EXPECT_EQ(runTool("check a b c").exitCode, 2);
}

TEST_F(LogTool, AuditChecksTheTrailLineByLine)
{
    AuditEntry entry;
    entry.at = Evening;
    entry.station = "PC-01";
    entry.address = "127.0.0.2";
    entry.command = "Перезагрузка";
    const std::string header = auditHeaderLine();
    const std::string line = auditLine(entry, "op");
    const struct
    {
        const char* name;
        std::string text;
        int exitCode;
        const char* says;
    } cases[] = {
        {"intact", header + line + line, 0, "3\tok\t08.12.2026 18:00:00\top\tPC-01\t127.0.0.2\tПерезагрузка"},
        {"cut short", header + line + line.substr(0, 30), 1, "3\tDAMAGED: no line end"},
        {"open quote", header + "08.12.2026 18:00:00;\"op\r\n" + line, 1, "2\tDAMAGED: a quoted field is not closed"},
        {"too few fields", header + "08.12.2026 18:00:00;op\r\n", 1, "2\tDAMAGED: 2 fields, 9 expected"},
        {"unknown result", header + "08.12.2026 18:00:00;op;PC;1.2.3.4;X;;;;done\r\n", 1, "known words"},
        {"bad date", header + "yesterday;op;PC;1.2.3.4;X;;;;отправлена\r\n", 1, "date-time cannot be read"},
        {"no header", line, 1, "1\tDAMAGED: not the header line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = m_dir.write("audit.csv", c.text);
        expectVerdict(runTool("audit '" + path + "'"), c.exitCode, c.says);
    }
    m_dir.write("Ostrel.audit.csv", header);
    EXPECT_EQ(runTool("audit", m_dir.path().string()).exitCode, 0); // the file beside by default
}

TEST_F(LogTool, CashListsTheShiftsAndCheckNamesTheFirstDamagedLine)
{
    CashUp c;
    c.at = c.until = Evening;
    c.from = Evening - 0.5;
    c.sessions = 3;
    c.computed = 15'000;
    c.counted = 14'950;
    const std::string header = cashHeaderLine();
    const std::string line = cashLine(c, "op");
    const struct
    {
        const char* name;
        std::string text;
        int exitCode;
        const char* cash;  // what `cash` says
        const char* check; // what `check` says
    } cases[] = {
        {"intact", header + line, 0,
         "2\t08.12.2026 18:00:00\top\t08.12.2026 6:00:00\t08.12.2026 18:00:00\t3\t150,00\t149,50\t-0,50",
         "1 cash-ups, 0 damaged lines"},
        {"cut short", header + line + line.substr(0, 20), 1, "3\tDAMAGED: no line end", "line 3: no line end"},
        {"wrong difference",
         header + "08.12.2026 18:00:00;op;08.12.2026 6:00:00;08.12.2026 18:00:00;1;1;2;3;\r\n" + line, 1,
         "2\tDAMAGED: the difference", "line 2: the difference"},
    };
    for (const auto& c2 : cases) {
        SCOPED_TRACE(c2.name);
        const std::string path = m_dir.write("Ostrel.cash.csv", c2.text);
        expectRun(runTool("cash '" + path + "'"), c2.exitCode, c2.cash);
        expectVerdict(runTool("check '" + path + "'"), c2.exitCode, c2.check);
    }
    m_dir.write("Ostrel.cash.csv", header + line);
    EXPECT_EQ(runTool("cash", m_dir.path().string()).exitCode, 0); // the file beside by default
}

} // namespace
} // namespace ostrel
