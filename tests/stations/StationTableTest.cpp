#include "stations/StationTable.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

namespace ostrel {
namespace {

std::vector<std::string> names(const StationTable& t)
{
    std::vector<std::string> out;
    for (int r = 1; r < t.rowCount(); ++r)
        out.push_back(t.cell(r, ColComputer));
    return out; // the trailing blank row shows as ""
}

void fillSession(StationTable& t, int row)
{
    for (int c = ColPrice; c <= ColSum; ++c) {
        std::string value = "v";
        value += std::to_string(c);
        t.setCell(row, c, value);
    }
}

TEST(StationTable, StartsWithHeadersAndABlankRow)
{
    const StationTable t;
    ASSERT_EQ(t.rowCount(), 2);
    const char* headers[] = {"\xCA\xEE\xEC\xEF\xFC\xFE\xF2\xE5\xF0",
                             "IP",
                             "\xD1\xF2\xE0\xF2\xF3\xF1",
                             "\xD6\xE5\xED\xE0",
                             "\xCD\xE0\xF7\xE0\xEB\xEE",
                             "\xC2\xF0\xE5\xEC\xFF",
                             "\xCE\xEA\xEE\xED\xF7\xE0\xED\xE8\xE5",
                             "\xCE\xF1\xF2\xE0\xEB\xEE\xF1\xFC",
                             "\xD1\xF3\xEC\xEC\xE0"};
    for (int c = 0; c < StationColumnCount; ++c)
        EXPECT_EQ(t.cell(0, c), headers[c]);
    EXPECT_EQ(t.row(1), StationRow{});
}

TEST(StationTable, AddKeepsByteOrderAndTheBlankRow)
{
    struct Case
    {
        std::vector<std::string> adds;
        std::vector<std::string> expected;
    } cases[] = {
        {{"A"}, {"A", ""}},
        {{"A", "C", "B"}, {"A", "B", "C", ""}},
        {{"C", "B", "A"}, {"A", "B", "C", ""}},
        {{"B", "a"}, {"B", "a", ""}},               // 0x42 before 0x61
        {{"pc10", "pc1"}, {"pc1", "pc10", ""}},     // a prefix first
        {{"\xCF\xCA", "Z"}, {"Z", "\xCF\xCA", ""}}, // bytes above 0x7F are unsigned
        {{"pc", "PC"}, {"PC", "pc", ""}},           // two stations
        {{"A", "A"}, {"A", ""}},                    // the same name reuses its row
    };
    for (const auto& c : cases) {
        StationTable t;
        for (const auto& n : c.adds)
            ASSERT_TRUE(t.AddStationRow(n, "127.0.0.2"));
        EXPECT_EQ(names(t), c.expected);
        EXPECT_EQ(t.row(t.rowCount() - 1), StationRow{});
    }
}

TEST(StationTable, InsertedRowIsFreeWithEmptySessionCells)
{
    StationTable t;
    t.AddStationRow("A", "127.0.0.2");
    const int c = *t.AddStationRow("C", "127.0.0.4");
    fillSession(t, c);
    const auto b = t.AddStationRow("B", "127.0.0.3");
    ASSERT_EQ(b, 2);
    EXPECT_EQ(t.cell(2, ColAddress), "127.0.0.3");
    EXPECT_EQ(t.cell(2, ColStatus), words::Free);
    for (int col = ColPrice; col <= ColSum; ++col)
        EXPECT_EQ(t.cell(2, col), "") << col;
    EXPECT_EQ(t.cell(3, ColComputer), "C");
    EXPECT_EQ(t.cell(3, ColSum), "v8"); // moved down whole
}

TEST(StationTable, ReusedRowRewritesOnlyNameAddressAndStatus)
{
    StationTable t;
    const int r = *t.AddStationRow("A", "127.0.0.2");
    t.setCell(r, ColStatus, "Standard");
    fillSession(t, r);
    EXPECT_EQ(t.AddStationRow("A", "127.0.0.9"), r);
    EXPECT_EQ(t.cell(r, ColAddress), "127.0.0.9");
    EXPECT_EQ(t.cell(r, ColStatus), words::Free);
    EXPECT_EQ(t.cell(r, ColPrice), "v3");
    EXPECT_EQ(t.rowCount(), 3);
}

TEST(StationTable, FindAndRemove)
{
    StationTable t;
    for (const char* n : {"A", "B", "C"})
        t.AddStationRow(n, "127.0.0.2");
    EXPECT_EQ(t.FindStationRow("B"), 2);
    EXPECT_EQ(t.FindStationRow("b"), std::nullopt);
    EXPECT_EQ(t.FindStationRow(""), std::nullopt); // never the blank row
    EXPECT_EQ(t.AddStationRow("", "127.0.0.2"), std::nullopt);

    fillSession(t, 3);
    EXPECT_FALSE(t.RemoveStationRow("X"));
    EXPECT_FALSE(t.RemoveStationRow(""));
    EXPECT_EQ(t.rowCount(), 5);
    EXPECT_TRUE(t.RemoveStationRow("B"));
    EXPECT_EQ(names(t), (std::vector<std::string>{"A", "C", ""}));
    EXPECT_EQ(t.cell(2, ColSum), "v8");
    EXPECT_EQ(t.row(3), StationRow{});
    EXPECT_TRUE(t.RemoveStationRow("A"));
    EXPECT_TRUE(t.RemoveStationRow("C"));
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.row(1), StationRow{});
}

TEST(StationTable, HeaderAndBlankRowCannotBeWrittenAndChangesMoveTheVersion)
{
    StationTable t;
    const auto v0 = t.version();
    t.setCell(0, ColStatus, "x");
    t.setCell(1, ColStatus, "x"); // the blank row
    EXPECT_EQ(t.version(), v0);
    EXPECT_EQ(t.row(1), StationRow{});

    t.AddStationRow("A", "127.0.0.2");
    const auto v1 = t.version();
    EXPECT_GT(v1, v0);
    t.setCell(1, ColStatus, std::string(words::Free)); // unchanged text
    EXPECT_EQ(t.version(), v1);
    t.setCell(1, ColStatus, "Standard");
    EXPECT_GT(t.version(), v1);
}

TEST(StationTable, FindsEachOfThousandsOfStationsInItsOwnRow)
{
    StationTable t;
    // Added in a scrambled order; the table keeps them sorted and finds each by halving.
    constexpr int Stations = 2000;
    for (int i = 0; i < Stations; ++i) {
        const int k = (i * 7919) % Stations;
        ASSERT_TRUE(t.AddStationRow("PC" + std::to_string(k),
                                    "127.0." + std::to_string(k / 250) + "." + std::to_string(k % 250 + 2)));
    }
    ASSERT_EQ(t.rowCount(), Stations + 2);
    const auto all = names(t);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end() - 1));
    for (int k = 0; k < Stations; ++k) {
        const std::string name = "PC" + std::to_string(k);
        const auto row = t.FindStationRow(name);
        ASSERT_TRUE(row) << name;
        EXPECT_EQ(t.cell(*row, ColComputer), name);
    }
    EXPECT_FALSE(t.FindStationRow("PC"));
    EXPECT_FALSE(t.FindStationRow("PC99999"));
    EXPECT_FALSE(t.FindStationRow("zz"));

    // The name is the key: it is never rewritten in place, so the order cannot break.
    t.setCell(1, ColComputer, "zz");
    EXPECT_EQ(t.cell(1, ColComputer), all[0]);
    ASSERT_TRUE(t.RemoveStationRow("PC1000"));
    EXPECT_FALSE(t.FindStationRow("PC1000"));
    EXPECT_EQ(t.cell(*t.FindStationRow("PC999"), ColComputer), "PC999");
}

} // namespace
} // namespace ostrel
