#include "report/CsvExport.h"

#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

using namespace ostrel;

TEST(CsvExport, QuotesOnlyWhatNeedsIt)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    for (const Case c : {Case{"Комп 1", "Комп 1"}, Case{"150,00", "150,00"}, Case{"a;b", "\"a;b\""},
                         Case{"say \"hi\"", "\"say \"\"hi\"\"\""}, Case{"two\nlines", "\"two\nlines\""},
                         Case{"cr\r", "\"cr\r\""}, Case{"", ""}})
        EXPECT_EQ(csvField(c.in), c.out);
}

TEST(CsvExport, StationTextThatLooksLikeAFormulaStaysText)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    for (const Case c :
         {Case{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""}, Case{"+1", "'+1"}, Case{"-2,5", "'-2,5"},
          Case{"@SUM(A1)", "'@SUM(A1)"}, Case{"\tcmd", "'\tcmd"}, Case{"\rcmd", "\"'\rcmd\""}, Case{"a=b", "a=b"},
          Case{"'quoted", "'quoted"}, Case{"", ""}, Case{"Комп-1", "Комп-1"}}) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(csvTextField(c.in), c.out);
    }
}

TEST(CsvExport, SessionsThenTotalsPerComputerAndTariff)
{
    auto record = [](const char* computer, const char* status, double sum, int minutes) {
        SessionLogRecord r;
        r.closedAt = *encodeDate(2024, 5, 10) + 0.5;
        r.price = 60;
        r.start = encodeTime(11, 0, 0);
        r.duration = encodeTime(0, minutes, 0);
        r.finish = encodeTime(12, 0, 0);
        r.sum = sum;
        r.computer = computer;
        r.address = "10.0.0.1";
        r.status = status;
        r.comment = "Ok";
        return r;
    };
    CsvReport csv;
    EXPECT_TRUE(csv.add(record("PC;1", "\xD7\xE0\xF1", 60, 60))); // "Час"
    EXPECT_TRUE(csv.add(record("PC2", "\xD7\xE0\xF1", 30.5, 30)));
    EXPECT_TRUE(csv.add(record("PC;1", "Night", 10, 90)));
    EXPECT_TRUE(csv.add(record("PC;1", "Night", 10, 90), true)); // listed, but counted already
    EXPECT_TRUE(csv.add(record("=PC3", "-Refund", -5.125, 1)));  // a negative amount stays a number
    const std::string text = csv.finish();
    const std::string expected =
        "\xEF\xBB\xBF"
        "Закрыто;Компьютер;Адрес;Статус;Цена;Начало;Длительность;Конец;Сумма;Коментарий\r\n"
        "10.05.2024 12:00:00;\"PC;1\";10.0.0.1;Час;60,00;11:00:00;1:00:00;12:00:00;60,00;Ok\r\n"
        "10.05.2024 12:00:00;PC2;10.0.0.1;Час;60,00;11:00:00;0:30:00;12:00:00;30,50;Ok\r\n"
        "10.05.2024 12:00:00;\"PC;1\";10.0.0.1;Night;60,00;11:00:00;1:30:00;12:00:00;10,00;Ok\r\n"
        "10.05.2024 12:00:00;\"PC;1\";10.0.0.1;Night;60,00;11:00:00;1:30:00;12:00:00;10,00;Ok\r\n"
        "10.05.2024 12:00:00;'=PC3;10.0.0.1;'-Refund;60,00;11:00:00;0:01:00;12:00:00;-5,13;Ok\r\n"
        "\r\n"
        "Компьютер;Сеансов;Сумма;Время\r\n"
        "'=PC3;1;-5,13;0:01:00\r\n"
        "PC2;1;30,50;0:30:00\r\n"
        "\"PC;1\";2;70,00;2:30:00\r\n"
        "\r\n"
        "Тариф;Сеансов;Сумма;Время\r\n"
        "'-Refund;1;-5,13;0:01:00\r\n"
        "Night;1;10,00;1:30:00\r\n"
        "Час;2;90,50;1:30:00\r\n"
        "\r\n"
        "Итог;4;95,38;3:01:00\r\n"
        "Повторных записей не учтено: 1\r\n";
    EXPECT_EQ(text, expected);

    // Durations are H:MM:SS with the hours running on past a day, in the rows and in the totals.
    CsvReport longOne;
    SessionLogRecord day = record("PC3", "Night", 1, 0);
    day.duration = 1 + (3600.0 + 5) / 86400; // 25 h 0 min 5 s
    EXPECT_TRUE(longOne.add(day));
    const std::string longText = longOne.finish();
    EXPECT_NE(longText.find(";11:00:00;25:00:05;12:00:00;"), std::string::npos);
    EXPECT_NE(longText.find("Итог;1;1,00;25:00:05\r\n"), std::string::npos);
}

// The computers' totals come in the order a person counts them, whatever order they were met in.
TEST(CsvExport, ComputersAreTotalledInNaturalOrder)
{
    const struct
    {
        const char* name;
        std::vector<std::string> met;
        std::vector<std::string> listed;
    } cases[] = {
        {"addresses",
         {"127.0.0.20", "127.0.0.3", "127.0.0.2", "127.0.1.1"},
         {"127.0.0.2", "127.0.0.3", "127.0.0.20", "127.0.1.1"}},
        {"leading zeros after the plain number", {"PC-010", "PC-9", "PC-10"}, {"PC-9", "PC-10", "PC-010"}},
        {"a longer name after its start", {"PC-1a", "PC-1", "PC"}, {"PC", "PC-1", "PC-1a"}},
        {"digits before letters", {"PCb", "PC1", "PCa"}, {"PC1", "PCa", "PCb"}},
        {"numbers past 64 bits",
         {"N99999999999999999999", "N100000000000000000000", "N2"},
         {"N2", "N99999999999999999999", "N100000000000000000000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CsvReport csv;
        for (const std::string& computer : c.met) {
            SessionLogRecord r;
            r.closedAt = *encodeDate(2024, 5, 10);
            r.computer = computer;
            ASSERT_TRUE(csv.add(r));
        }
        const std::string text = csv.finish();
        const std::string title = "Компьютер;Сеансов;Сумма;Время\r\n";
        const std::size_t from = text.find(title);
        ASSERT_NE(from, std::string::npos);
        std::vector<std::string> listed;
        for (std::size_t at = from + title.size(); at < text.size() && text.compare(at, 2, "\r\n") != 0;) {
            const std::size_t end = text.find("\r\n", at);
            listed.push_back(text.substr(at, text.find(';', at) - at));
            at = end + 2;
        }
        EXPECT_EQ(listed, c.listed);
    }
}

TEST(CsvExport, ReadsTheListedRecordsBackFromTheLog)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("ostrel-csv-test-" + std::to_string(::getpid()) + ".log")).string();
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 5; ++i) {
            SessionLogRecord r;
            r.closedAt = *encodeDate(2024, 5, 10 + i);
            r.computer = "PC" + std::to_string(i);
            r.sum = i;
            const auto bytes = encodeLogRecord(r);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
    }
    const auto csv = exportWorkReportCsv(path, {1, 3});
    ASSERT_TRUE(csv);
    EXPECT_NE(csv->find("11.05.2024;PC1;"), std::string::npos);
    EXPECT_NE(csv->find("13.05.2024;PC3;"), std::string::npos);
    EXPECT_EQ(csv->find("PC0"), std::string::npos);
    EXPECT_EQ(csv->find("PC2"), std::string::npos);
    const auto withRepeat = exportWorkReportCsv(path, {1, 3}, {3});
    ASSERT_TRUE(withRepeat);
    EXPECT_NE(withRepeat->find("13.05.2024;PC3;"), std::string::npos);
    EXPECT_NE(withRepeat->find("\r\nИтог;1;1,00;"), std::string::npos);
    EXPECT_NE(withRepeat->find("\r\nПовторных записей не учтено: 1\r\n"), std::string::npos);
    EXPECT_FALSE(exportWorkReportCsv(path, {7}));
    std::filesystem::remove(path);
    EXPECT_FALSE(exportWorkReportCsv(path, {1}));
    EXPECT_TRUE(exportWorkReportCsv(path, {})); // nothing listed: headers and zero totals
}
