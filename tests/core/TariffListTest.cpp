#include "core/TariffList.h"

#include "core/Cp1251.h"
#include "core/IniFile.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using Lines = std::vector<std::string>;

std::string cp(const char* utf8)
{
    return utf8ToCp1251(utf8);
}

TEST(TariffList, LoadsASectionInFileOrderSkippingEmptyValues)
{
    const auto ini = IniFile::fromText("[Price]\nA=10\nB=\n[Game]\n");
    TariffList prices("Prices");
    prices.loadSection(ini, "Price");
    EXPECT_EQ(prices.lines(), (Lines{"Prices", "A=10"}));
    TariffList games("Games");
    games.loadSection(ini, "Game");
    EXPECT_EQ(games.lines(), Lines{"Games"});
    games.loadSection(ini, "Absent");
    EXPECT_EQ(games.count(), 1);
}

TEST(TariffList, RepeatedNamesStandOnceWithTheFirstValue)
{
    // The ini service answers a repeated name with its first value; the later spelling replaces
    // the line in place.
    const auto ini = IniFile::fromText("[Price]\nA=1\nB=2\na=3\n");
    TariffList prices("Prices");
    prices.loadSection(ini, "Price");
    EXPECT_EQ(prices.lines(), (Lines{"Prices", "a=1", "B=2"}));
}

TEST(TariffList, SetReplacesInPlaceIgnoringCyrillicCase)
{
    TariffList list("Prices");
    list.set(cp("Час"), "30");
    list.set(cp("Ночь"), "100");
    list.set(cp("ЧАС"), "40");
    list.set(cp("Ёлка"), "5");
    list.set(cp("ёЛКА"), "6");
    list.set("Empty", "");
    EXPECT_EQ(list.lines(), (Lines{"Prices", cp("ЧАС=40"), cp("Ночь=100"), cp("ёЛКА=6")}));
    EXPECT_EQ(list.count(), 4);
}

TEST(TariffList, LookupAndNames)
{
    TariffList list("Prices");
    list.set(cp("Час"), "30");
    list.set("Formula", "a=b");
    EXPECT_EQ(list.value(cp("час")), "30");
    EXPECT_EQ(list.value("FORMULA"), "a=b"); // after the first '='
    EXPECT_EQ(list.value("Prices"), "");     // the title line is no tariff
    EXPECT_EQ(list.value("None"), "");
    EXPECT_EQ(list.value(""), "");
    EXPECT_EQ(list.name(0), "Prices");
    EXPECT_EQ(list.name(1), cp("Час"));
    EXPECT_EQ(list.name(2), "Formula");
    EXPECT_EQ(list.name(3), "");
    EXPECT_EQ(list.name(-1), "");

    EXPECT_TRUE(list.containsExactly(cp("Час")));
    EXPECT_FALSE(list.containsExactly(cp("час")));
    EXPECT_FALSE(list.containsExactly("Prices"));
    EXPECT_FALSE(list.containsExactly("Formula=a"));
}

} // namespace
} // namespace ostrel
