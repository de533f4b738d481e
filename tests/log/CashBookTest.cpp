#include "log/CashBook.h"

#include "core/Texts.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace ostrel {
namespace {

constexpr double Evening = 46364.75; // 08.12.2026 18:00:00

CashUp shift(double at = Evening, std::int64_t counted = 123'450)
{
    CashUp c;
    c.at = at;
    c.from = at - 0.375; // 9:00
    c.until = at;
    c.sessions = 12;
    c.computed = 123'500;
    c.counted = counted;
    c.comment = "без сдачи";
    return c;
}

using testing::readWholeFile;

TEST(CashBook, LineFormat)
{
    EXPECT_EQ(cashHeaderLine(),
              "\xEF\xBB\xBFВремя;Оператор;С;По;Сессий;По журналу;В кассе;Расхождение;Комментарий\r\n");
    struct Case
    {
        const char* name;
        std::string comment;
        std::int64_t counted;
        std::string line;
    };
    const Case cases[] = {
        {"short", "без сдачи", 123'450,
         "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;12;1235,00;1234,50;-0,50;без сдачи\r\n"},
        {"even", "", 123'500,
         "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;12;1235,00;1235,00;0,00;\r\n"},
        {"quoted and one line", "a;\"b\"\r\nc", 123'501,
         "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;12;1235,00;1235,01;0,01;\"a;\"\"b\"\"  "
         "c\"\r\n"},
        {"no formula", "=SUM(A1)", 0,
         "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;12;1235,00;0,00;-1235,00;'=SUM(A1)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CashUp up = shift(Evening, c.counted);
        up.comment = c.comment;
        const std::string line = cashLine(up, "op");
        EXPECT_EQ(line, c.line);
        const auto check = checkCashLine(std::string_view(line).substr(0, line.size() - 2));
        ASSERT_FALSE(check.fault) << *check.fault;
        ASSERT_TRUE(check.cashUp);
        EXPECT_EQ(check.cashUp->at, Evening);
        EXPECT_EQ(check.cashUp->user, "op");
        EXPECT_EQ(check.cashUp->counted, c.counted);
        EXPECT_EQ(check.cashUp->difference(), c.counted - 123'500);
    }
}

TEST(CashBook, DamagedLinesAreNamedAndSkipped)
{
    const std::string header = cashHeaderLine();
    const std::string first = cashLine(shift(Evening - 1), "op");
    const std::string last = cashLine(shift(Evening), "op");
    struct Case
    {
        const char* name;
        std::string text;
        std::optional<std::size_t> firstDamaged;
        const char* fault;
        std::optional<double> lastAt;
    };
    const Case cases[] = {
        {"intact", header + first + last, {}, "", Evening},
        {"cut short at the end", header + first + last.substr(0, 40), 3, "no line end", Evening - 1},
        {"cut short in the header", header.substr(0, 10), 1, "no line end", {}},
        {"only the line end lost", header + first + last.substr(0, last.size() - 2), 3, "no line end", Evening - 1},
        {"difference not counted minus computed",
         header + "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;1;10,00;9,00;1,00;\r\n" + first, 2,
         "difference", Evening - 1},
        {"unreadable sum",
         header + "08.12.2026 18:00:00;op;08.12.2026 9:00:00;08.12.2026 18:00:00;1;x;9,00;-1,00;\r\n",
         2,
         "money",
         {}},
        {"shift backwards",
         header + "08.12.2026 18:00:00;op;08.12.2026 19:00:00;08.12.2026 18:00:00;1;1;1;0;\r\n",
         2,
         "ends before",
         {}},
        {"too few fields", header + "08.12.2026 18:00:00;op\r\n", 2, "2 fields, 9 expected", {}},
        {"no header", first, 1, "not the header line", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CashBookRead read = readCashBookText(c.text);
        EXPECT_EQ(read.firstDamaged, c.firstDamaged);
        EXPECT_EQ(read.lastAt(), c.lastAt);
        if (c.firstDamaged) {
            const auto lines = checkCashFile(c.text);
            const auto& fault = lines[*c.firstDamaged - 1].check.fault;
            ASSERT_TRUE(fault);
            EXPECT_NE(fault->find(c.fault), std::string::npos) << *fault;
        }
    }
}

TEST(CashBook, AppendIsDurableGroupWritableAndCutsOffALineLeftUnfinished)
{
    testing::TempFolder dir;
    const std::string path = dir.file("Ostrel.cash.csv");
    CashBook book(path, "op");
    ASSERT_EQ(book.append(shift(Evening - 1)), 0);
    const std::string whole = cashHeaderLine() + cashLine(shift(Evening - 1), "op");
    EXPECT_EQ(readWholeFile(path), whole);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0020, 0u);

    // A crash left part of a line, longer than the next: it is reported on reading and goes with
    // the next append, all of it.
    CashUp longer = shift(Evening - 0.5);
    longer.comment = std::string(300, 'x');
    std::ofstream(path, std::ios::binary | std::ios::app) << cashLine(longer, "op").substr(0, 250);
    EXPECT_EQ(readCashBook(path).firstDamaged, 3u);
    EXPECT_EQ(readCashBook(path).lastAt(), Evening - 1);
    ASSERT_EQ(book.append(shift(Evening)), 0);
    EXPECT_EQ(readWholeFile(path), whole + cashLine(shift(Evening), "op"));
    const CashBookRead read = readCashBook(path);
    EXPECT_FALSE(read.firstDamaged);
    EXPECT_EQ(read.lastAt(), Evening);
}

TEST(CashBook, NeverWritesThroughALink)
{
    testing::TempFolder dir;
    const std::string target = dir.write("other.csv", "theirs\n");
    const std::string path = dir.file("Ostrel.cash.csv");
    std::filesystem::create_symlink(target, path);
    CashBook book(path, "op");
    EXPECT_EQ(book.append(shift()), ELOOP);
    EXPECT_EQ(readWholeFile(target), "theirs\n");
    EXPECT_EQ(readCashBook(dir.file("none.csv")).status, CashBookRead::Status::Missing);
}

} // namespace
} // namespace ostrel
