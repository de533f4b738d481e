#include "report/ReportTabStops.h"
#include "report/ReportNaming.h"

#include "core/DateTime.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

// One unit per byte: the stops can be read off the texts.
double bytes(std::string_view text)
{
    return static_cast<double>(text.size());
}

TEST(ReportTabStops, EachStopLiesPastTheWidestFieldOfItsColumn)
{
    const struct
    {
        const char* text;
        std::vector<double> stops; // gap 2
    } cases[] = {
        {"", {}},
        {"one column\nonly", {12}},
        {"ab\tc\td", {4, 7, 10}},                          // the header alone: 2+2, then 1+2
        {"Время\tX\n08.12.2026 5:57:28\t1", {18 + 2, 23}}, // a wide closing time moves the stop
        {"a\tb\tc\nlong first\tx\tz\nq\tlonger second\tz", {12, 12 + 13 + 2, 30}},
        {"a\tb\nItog: sum 100000\tx\ty\nabc\td", {5, 8}}, // a line of other shape does not count
        {"a\tb\r\nabcdef\tg\r\n", {8, 11}},               // CR LF line ends
    };
    for (const auto& c : cases) {
        const ReportTabStops columns(c.text);
        EXPECT_EQ(columns.stops(bytes, 2), c.stops) << c.text;
    }
}

TEST(ReportTabStops, MeasuresEachShapeOnce)
{
    std::string text = "Время\tСумма";
    for (int i = 0; i < 1000; ++i) {
        text += '\n';
        text += std::to_string(10 + i % 13) + ".05.2024 1" + std::to_string(i % 10) + ":00:00\t" + std::to_string(i) +
                ",00";
    }
    const ReportTabStops columns(text);
    ASSERT_EQ(columns.columnCount(), 2u);
    EXPECT_EQ(columns.shapes(0), (std::vector<std::string>{"Время", "00.00.0000 00:00:00"}));
    EXPECT_EQ(columns.shapes(1).size(), 4u); // the title, then 0,00 00,00 000,00
    int measured = 0;
    const auto stops = columns.stops(
        [&measured](std::string_view t) {
            ++measured;
            return bytes(t);
        },
        1);
    EXPECT_EQ(stops, (std::vector<double>{20, 31})); // "Сумма" is 10 bytes
    EXPECT_EQ(measured, 6);
}

TEST(ReportNaming, TitleAndFileNameNameThePeriod)
{
    const double beg = *encodeDate(2026, 12, 1);
    const double end = *encodeDate(2026, 12, 8);
    EXPECT_EQ(reportTitle(beg, end), "Отчет о работе с 01.12.2026 по 08.12.2026");
    EXPECT_EQ(reportCsvFileName(beg, end), "Отчет 01.12.2026-08.12.2026.csv");
    const std::pair<const char*, const char*> names[] = {
        {"/home/op/Отчет", "/home/op/Отчет.csv"}, {"a.csv", "a.csv"},           {"a.CSV", "a.CSV"},
        {"a.csv.txt", "a.csv.txt.csv"},           {"/tmp/csv", "/tmp/csv.csv"},
    };
    for (const auto& [in, out] : names)
        EXPECT_EQ(withCsvSuffix(in), out) << in;
}

} // namespace
} // namespace ostrel
