#include "commands/CommandMenuModel.h"
#include "commands/MenuCommand.h"
#include "core/Cp1251.h"
#include "support/CommandsTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel {
namespace {

using namespace testing;

// The menu as one line per item: "caption/tag", "-" for a separator, a submenu in brackets.
std::string outline(const CommandMenuItems& items)
{
    std::string text;
    for (const auto& item : items) {
        if (!text.empty())
            text += " ";
        if (item.separator) {
            text += "-";
            continue;
        }
        text += cp1251ToUtf8(item.caption) + "/" + std::to_string(item.tag);
        if (!item.submenu.empty())
            text += " [" + outline(item.submenu) + "]";
    }
    return text;
}

const std::string Fixed = "- Освободить/2 Блокировка/3 - Убить все приложения/1001 Перезагрузка/1002 "
                          "Выключить компьютер/1003 Выйти из системы/1005";

TEST(CommandMenuModel, FollowsTheTariffLists)
{
    const struct
    {
        std::vector<std::pair<std::string, std::string>> prices, games;
        std::string expected;
    } cases[] = {
        {{}, {}, "Ожидание/4 " + Fixed},
        {{{"Day", "1"}}, {{"Quake", "2"}}, "Day/100 - Quake/200 - Ожидание/4 [Day/101 - Quake/201] " + Fixed},
        {{{"Day", "1"}}, {}, "Day/100 - Ожидание/4 [Day/101 -] " + Fixed},
        {{}, {{"Quake", "2"}}, "Quake/200 - Ожидание/4 [Quake/201] " + Fixed},
        {{{"Day", "1"}, {"Night", "0,5"}},
         {{"Quake", "2"}, {"Doom", "3"}},
         "Day/100 Night/100 - Quake/200 Doom/200 - Ожидание/4 [Day/101 Night/101 - Quake/201 Doom/201] " + Fixed},
    };
    for (const auto& c : cases) {
        const auto menu = buildCommandMenu(tariffList("Prices", c.prices), tariffList("Games", c.games));
        EXPECT_EQ(outline(menu), c.expected);
    }
}

TEST(CommandMenuModel, TariffItemsCarryTheirNames)
{
    const std::string cyrillic = utf8ToCp1251("Ночь");
    const auto menu = buildCommandMenu(tariffList("Prices", {{cyrillic, "1"}}), tariffList("Games", {{"Q&A", "2"}}));
    EXPECT_EQ(menu[0].tariff, cyrillic);
    EXPECT_EQ(menu[0].caption, cyrillic);
    EXPECT_EQ(menu[2].tariff, "Q&A");
    EXPECT_EQ(menu[4].submenu[0].tariff, cyrillic);
    EXPECT_EQ(menu[4].submenu[2].tariff, "Q&A");
}

// A tariff whose value is not a number gets items that no row enables, in both places it is listed,
// and is named in the one start-up warning with its list and value.
TEST(CommandMenuModel, TariffsWithoutANumberAreDisabledAndNamedOnce)
{
    const struct
    {
        std::string value;
        bool priced;
    } cases[] = {
        {"1", true}, {"0,5", true}, {"12,50", true}, {"1.5", false}, {"abc", false}, {"1,5,0", false},
    };
    for (const auto& c : cases) {
        auto menu = buildCommandMenu(tariffList("Prices", {{"Day", c.value}}), tariffList("Games", {{"Quake", "2"}}));
        ASSERT_EQ(menu[0].tag, tags::StartPaid);
        ASSERT_EQ(menu[4].submenu[0].tag, tags::WaitPaid);
        EXPECT_EQ(menu[0].enabled, c.priced) << c.value;
        EXPECT_EQ(menu[4].submenu[0].enabled, c.priced) << c.value;
        UpdateCommandMenu(menu, stationRow("A", "1", words::Closed)); // a row that offers every tariff
        EXPECT_EQ(menu[0].enabled, c.priced) << c.value;
        EXPECT_TRUE(menu[2].enabled) << c.value; // the game beside it keeps its item
        const std::vector<StationRow> rows{stationRow("A", "1", words::Closed), stationRow("B", "2", words::Free)};
        UpdateCommandMenu(menu, rows);
        EXPECT_EQ(menu[0].enabled, c.priced) << c.value;
        const auto text = unpricedTariffsText(tariffList("Prices", {{"Day", c.value}}), tariffList("Games", {}));
        if (c.priced)
            EXPECT_EQ(text, std::nullopt) << c.value;
        else
            EXPECT_EQ(text,
                      "Тарифы отключены в меню, их цена не является числом:\nPrices: \"Day\" = \"" + c.value + "\"");
    }
    EXPECT_EQ(unpricedTariffsText(tariffList("Prices", {{"Day", "1.5"}, {"Night", "1"}, {utf8ToCp1251("Ночь"), "x"}}),
                                  tariffList("Games", {{"Quake", "2.0"}})),
              "Тарифы отключены в меню, их цена не является числом:\nPrices: \"Day\" = \"1.5\"\n"
              "Prices: \"Ночь\" = \"x\"\nGames: \"Quake\" = \"2.0\"");
}

// Which of the switchable items a row enables: Prices, Games, "Ожидание", "Освободить", "Блокировка".
std::string enabledOutline(const StationRow& row)
{
    std::string text;
    for (int tag : {tags::StartPaid, tags::StartGame, tags::Wait, tags::Free, tags::Block})
        text += *commandEnabledFor(tag, row) ? "1" : "0";
    return text;
}

TEST(CommandMenuModel, EnablesItemsForTheRowsState)
{
    const std::string cyrillicWaiting = utf8ToCp1251("Ожидание СЧ"); // Cyrillic С, not the status word
    const struct
    {
        const char* what;
        StationRow row;
        std::string enabled; // Prices, Games, Ожидание, Освободить, Блокировка
    } cases[] = {
        {"unloaded", stationRow("A", "1", words::Unloaded), "00001"},
        {"closed", stationRow("A", "1", words::Closed), "11110"},
        {"waiting paid", stationRow("A", "1", words::WaitingPaid), "00011"},
        {"waiting game", stationRow("A", "1", words::WaitingGame), "00011"},
        {"new row", stationRow("A", "1", words::Free), "11011"},
        {"running, no time left", stationRow("A", "1", "Day", "0:10:00", "12:00:00", ""), "10011"},
        {"running, time left", stationRow("A", "1", "Quake", "0:10:00", "12:00:00", "0:20:00"), "01011"},
        {"Cyrillic С, nothing running", stationRow("A", "1", cyrillicWaiting), "11011"},
        {"Cyrillic С, finish set", stationRow("A", "1", cyrillicWaiting, "", "12:00:00", ""), "10011"},
        {"trailing blank", stationRow("A", "1", std::string(words::Closed) + " "), "11011"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(enabledOutline(c.row), c.enabled) << c.what;
}

} // namespace
} // namespace ostrel
