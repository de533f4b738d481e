#include "commands/CommandMenuController.h"
#include "commands/CommandMenuModel.h"
#include "commands/MenuCommand.h"
#include "core/Cp1251.h"
#include "core/StationTableMutex.h"
#include "support/CommandsTestSupport.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace testing;

struct ControllerFixture : ::testing::Test
{
    FakeTransport transport;
    FakeTable table;
    TariffList prices = tariffList("Prices", {{"Day", "1,5"}, {"Broken", "x"}});
    TariffList games = tariffList("Games", {{"Quake", "2"}});
    CommandMenuController menu{prices, games, transport, StationRows::of(table)};
    int asked = 0;
    bool askedWithSign = false;

    ControllerFixture()
    {
        transport.connected = {"127.0.0.2", "127.0.0.3"};
        table.add(stationRow("A", "127.0.0.2", words::Closed));
        table.add(stationRow("B", "127.0.0.3", "Quake", "0:30:00", "13:00:00", "0:15:00"));
    }

    AskInterval answer(std::optional<IntervalChoice> choice)
    {
        return [this, choice](bool showSign) {
            ++asked;
            askedWithSign = showSign;
            return choice;
        };
    }
    AskInterval noDialog()
    {
        return [](bool) -> std::optional<IntervalChoice> {
            ADD_FAILURE() << "no dialog expected";
            return std::nullopt;
        };
    }
    // A click the controller turns down: the operator is told why, and the sends so far stay as they were.
    void expectTurnedDown(const ClickOutcome& outcome, ClickResult result, std::string_view message,
                          std::size_t sentSoFar)
    {
        EXPECT_EQ(outcome.result, result);
        EXPECT_EQ(outcome.message(), message);
        EXPECT_EQ(transport.sent.size(), sentSoFar);
    }
};

const StationKey A{"A", "127.0.0.2"};
const StationKey B{"B", "127.0.0.3"};

TEST_F(ControllerFixture, OpensOnlyForAStationStillInTheTableByNameAndAddress)
{
    for (const StationKey& shown : {StationKey{}, StationKey{"", "127.0.0.2"}, StationKey{"B", "127.0.0.2"},
                                    StationKey{"C", "127.0.0.4"}, StationKey{"b", "127.0.0.3"}}) {
        SCOPED_TRACE(shown.name + " " + shown.address);
        EXPECT_FALSE(menu.open(shown));
        EXPECT_FALSE(menu.station());
    }
    // A station joins above B before the click: B is found where it is now.
    table.rows.insert(table.rows.begin() + 1, stationRow("0", "127.0.0.5", words::Closed));
    ASSERT_TRUE(menu.open(B));
    EXPECT_EQ(menu.station(), B);
    ASSERT_EQ(menu.click(tags::PowerOff, "", noDialog()).result, ClickResult::Sent);
    EXPECT_EQ(transport.sent.back().address, "127.0.0.3");
}

TEST_F(ControllerFixture, PlainItemsSendTheirCodes)
{
    ASSERT_TRUE(menu.open(A));
    const std::pair<int, CommandCode> cases[] = {
        {tags::Free, CommandCode::cmdFree},         {tags::Block, CommandCode::cmdBlock},
        {tags::KillApps, CommandCode::cmdKillApps}, {tags::Reboot, CommandCode::cmdReboot},
        {tags::PowerOff, CommandCode::cmdPowerOff}, {tags::LogOff, CommandCode::cmdLogOff},
    };
    for (const auto& [tag, code] : cases) {
        ASSERT_EQ(menu.click(tag, "", noDialog()).result, ClickResult::Sent) << tag;
        EXPECT_EQ(transport.sent.back().address, "127.0.0.2");
        EXPECT_EQ(transport.lastCommand().code, code);
    }
    EXPECT_EQ(menu.click(tags::Wait, "", noDialog()).result, ClickResult::Ignored);
}

TEST_F(ControllerFixture, PaidTariffsCarryTheirPrice)
{
    ASSERT_TRUE(menu.open(A));
    ASSERT_EQ(menu.click(tags::StartPaid, "Day", noDialog()).result, ClickResult::Sent);
    EXPECT_EQ(transport.lastCommand().code, CommandCode::cmdStartPaid);
    EXPECT_EQ(transport.lastCommand().tariff, "Day");
    EXPECT_EQ(transport.lastCommand().price, 1.5);
    ASSERT_EQ(menu.click(tags::WaitPaid, "Day", noDialog()).result, ClickResult::Sent);
    EXPECT_EQ(transport.lastCommand().code, CommandCode::cmdWaitPaid);

    expectTurnedDown(menu.click(tags::StartPaid, "Broken", noDialog()), ClickResult::BadPrice,
                     "Цена тарифа \"Broken\" не является числом: \"x\"", 2);
}

TEST_F(ControllerFixture, GameOnAFreeStationAsksWithoutSign)
{
    ASSERT_TRUE(menu.open(A));
    ASSERT_EQ(menu.click(tags::StartGame, "Quake", answer(IntervalChoice{90, IntervalSign::Minus})).result,
              ClickResult::Sent);
    EXPECT_FALSE(askedWithSign);
    const auto command = transport.lastCommand();
    EXPECT_EQ(command.code, CommandCode::cmdStartGame);
    EXPECT_EQ(command.price, 2);
    EXPECT_EQ(command.time, 0.0625);
}

TEST_F(ControllerFixture, GameOnARunningSessionChangesItsLength)
{
    ASSERT_TRUE(menu.open(B));
    ASSERT_EQ(menu.click(tags::StartGame, "Quake", answer(IntervalChoice{30, IntervalSign::Plus})).result,
              ClickResult::Sent);
    EXPECT_TRUE(askedWithSign);
    EXPECT_EQ(transport.lastCommand().time, 75 / 1440.0);

    // The dialog reads the row again after it closes: the session's time moved on meanwhile.
    auto ask = [this](bool) {
        std::scoped_lock hold(StationTableMutex);
        table.rows[2][ColElapsed] = "0:40:00";
        table.rows[2][ColLeft] = "0:05:00";
        return std::optional<IntervalChoice>(IntervalChoice{10, IntervalSign::Minus});
    };
    ASSERT_EQ(menu.click(tags::StartGame, "Quake", ask).result, ClickResult::Sent);
    EXPECT_EQ(transport.lastCommand().time, 40 / 1440.0); // not below the 40 minutes played

    table.rows[2][ColLeft] = "";
    EXPECT_EQ(menu.click(tags::StartGame, "Quake", answer(IntervalChoice{30, IntervalSign::Plus})).result,
              ClickResult::TimeUnreadable);
    EXPECT_EQ(menu.click(tags::StartGame, "Quake", answer(std::nullopt)).result, ClickResult::Cancelled);
    EXPECT_EQ(transport.sent.size(), 2u);
}

TEST_F(ControllerFixture, WaitingGameSendsTheIntervalAlone)
{
    ASSERT_TRUE(menu.open(B));
    ASSERT_EQ(menu.click(tags::WaitGame, "Quake", answer(IntervalChoice{1430, IntervalSign::Minus})).result,
              ClickResult::Sent);
    EXPECT_FALSE(askedWithSign);
    EXPECT_EQ(transport.lastCommand().code, CommandCode::cmdWaitGame);
    EXPECT_EQ(transport.lastCommand().time, 1430 / 1440.0);
    EXPECT_EQ(menu.click(tags::WaitGame, "Quake", answer(std::nullopt)).result, ClickResult::Cancelled);
    EXPECT_EQ(transport.sent.size(), 1u);
}

TEST_F(ControllerFixture, StationCommandsAskFirstOnlyDuringASession)
{
    table.rows[2][ColSum] = "12,50"; // B runs a session; A does not
    const struct
    {
        int tag;
        std::optional<std::string> onB; // nothing is asked on A
    } cases[] = {
        {tags::Reboot, "Перезагрузить компьютер B (127.0.0.3)?\nНа нем идет сеанс, сумма: 12,50."},
        {tags::PowerOff, "Выключить компьютер B (127.0.0.3)?\nНа нем идет сеанс, сумма: 12,50."},
        {tags::LogOff, "Выйти из системы на компьютере B (127.0.0.3)?\nНа нем идет сеанс, сумма: 12,50."},
        {tags::KillApps, "Убить все приложения на компьютере B (127.0.0.3)?\nНа нем идет сеанс, сумма: 12,50."},
        {tags::Free, std::nullopt},
        {tags::Block, std::nullopt},
        {tags::StartGame, std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(menu.open(A));
        EXPECT_EQ(menu.confirmation(c.tag), std::nullopt) << c.tag;
        ASSERT_TRUE(menu.open(B));
        EXPECT_EQ(menu.confirmation(c.tag), c.onB) << c.tag;
    }
    // The question follows the row as it is when asked: the session ended meanwhile.
    table.rows[2][ColSum].clear();
    EXPECT_EQ(menu.confirmation(tags::Reboot), std::nullopt);
    EXPECT_EQ(StationRows::of(table).runningSessions(), 0);
    table.rows[1][ColSum] = "1,00";
    table.rows[2][ColSum] = "2,00";
    EXPECT_EQ(StationRows::of(table).runningSessions(), 2);
}

TEST_F(ControllerFixture, GameOfNoMinutesIsNotSent)
{
    ASSERT_TRUE(menu.open(A));
    for (const int minutes : {0, 1440}) {
        const auto start = menu.click(tags::StartGame, "Quake", answer(IntervalChoice{minutes, IntervalSign::Plus}));
        EXPECT_EQ(start.result, ClickResult::ZeroGame) << minutes;
        EXPECT_EQ(start.message(), "Игра на 0 минут не начата");
        EXPECT_EQ(menu.click(tags::WaitGame, "Quake", answer(IntervalChoice{minutes, IntervalSign::Plus})).result,
                  ClickResult::ZeroGame);
    }
    EXPECT_TRUE(transport.sent.empty());
}

TEST_F(ControllerFixture, ActsOnTheStationItWasOpenedFor)
{
    ASSERT_TRUE(menu.open(B)); // B
    // A leaves while the menu is open: B moves up to row 1, where A was.
    table.rows.erase(table.rows.begin() + 1);
    ASSERT_EQ(menu.click(tags::Block, "", noDialog()).result, ClickResult::Sent);
    EXPECT_EQ(transport.sent.back().address, "127.0.0.3");

    // B goes too, and another station takes its name from another address: nothing is sent.
    table.rows[1] = stationRow("B", "127.0.0.4", words::Closed);
    transport.connected.push_back("127.0.0.4");
    expectTurnedDown(menu.click(tags::Free, "", noDialog()), ClickResult::StationGone,
                     "Компьютер B (127.0.0.3) отключился, команда не отправлена", 1);
}

TEST_F(ControllerFixture, StationLeavingDuringTheDialogGetsNothing)
{
    ASSERT_TRUE(menu.open(B));
    auto ask = [this](bool) {
        std::scoped_lock hold(StationTableMutex);
        table.rows.erase(table.rows.begin() + 2);
        return std::optional<IntervalChoice>(IntervalChoice{30, IntervalSign::Plus});
    };
    EXPECT_EQ(menu.click(tags::StartGame, "Quake", ask).result, ClickResult::StationGone);
    EXPECT_TRUE(transport.sent.empty());
}

TEST_F(ControllerFixture, UnconnectedStationIsReported)
{
    transport.connected = {"127.0.0.3"};
    ASSERT_TRUE(menu.open(A));
    expectTurnedDown(menu.click(tags::Free, "", noDialog()), ClickResult::NoConnection,
                     "Компьютер A (127.0.0.2) не подключен", 0);

    // A game asks for its minutes only once the station is known to be reachable.
    bool asked = false;
    auto ask = [&asked](bool) {
        asked = true;
        return std::optional<IntervalChoice>(IntervalChoice{30, IntervalSign::Plus});
    };
    EXPECT_EQ(menu.click(tags::StartGame, "Quake", ask).result, ClickResult::NoConnection);
    EXPECT_FALSE(asked);
    EXPECT_TRUE(transport.sent.empty());

    // Both are told to the transport, for the audit trail: the game without minutes.
    ASSERT_EQ(transport.refused.size(), 2u);
    EXPECT_EQ(transport.refused[0].address, "127.0.0.2");
    EXPECT_EQ(decodeStationCommand(transport.refused[0].bytes)->code, CommandCode::cmdFree);
    const auto game = *decodeStationCommand(transport.refused[1].bytes);
    EXPECT_EQ(game.code, CommandCode::cmdStartGame);
    EXPECT_EQ(game.tariff, "Quake");
    EXPECT_EQ(game.time, 0.0);
}

TEST_F(ControllerFixture, ACommandThatIsNotDeliveredWholeIsReportedNeverSent)
{
    // A transport that sends on another thread: the click returns before the outcome is known.
    struct LaterTransport : FakeTransport
    {
        std::vector<SendDone> waiting;
        void post(std::string, const StationCommand&, SendDone done) override { waiting.push_back(std::move(done)); }
    } later;
    later.connected = {"127.0.0.2"};
    CommandMenuController async{prices, games, later, StationRows::of(table)};
    std::vector<ClickOutcome> told;
    async.setDeliveryHandler([&told](const ClickOutcome& outcome) { told.push_back(outcome); });
    ASSERT_TRUE(async.open(A));

    struct Case
    {
        SendResult result;
        std::optional<std::string> message;
    };
    const std::vector<Case> cases = {
        {SendResult::Sent, std::nullopt},
        {SendResult::NotDelivered, "Команда не доставлена компьютеру A (127.0.0.2)"},
        {SendResult::NoConnection, "Компьютер A (127.0.0.2) не подключен"},
    };
    for (const auto& c : cases) {
        told.clear();
        EXPECT_EQ(async.click(tags::Free, "", noDialog()).result, ClickResult::Sent);
        ASSERT_EQ(later.waiting.size(), 1u);
        EXPECT_TRUE(told.empty()) << "nothing is known before the transport answers";
        auto done = std::move(later.waiting.back());
        later.waiting.clear();
        done(c.result);
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].station, (StationKey{"A", "127.0.0.2"}));
        EXPECT_EQ(told[0].message(), c.message);
    }

    // A transport that answers at once gives its answer as the click's result.
    transport.connected = {"127.0.0.2"};
    ASSERT_TRUE(menu.open(A));
    EXPECT_EQ(menu.click(tags::Free, "", noDialog()).result, ClickResult::Sent);
}

TEST_F(ControllerFixture, SeveralStationsGetOnlyWhatEveryOneOfThemWouldBeOffered)
{
    const StationRow closed = stationRow("C", "127.0.0.4", words::Closed);
    const StationRow unloaded = stationRow("U", "127.0.0.5", words::Unloaded);
    const StationRow waiting = stationRow("W", "127.0.0.6", words::WaitingGame);
    const StationRow paid = stationRow("P", "127.0.0.7", "Day", "0:10:00", "12:10:00");
    const StationRow game = stationRow("G", "127.0.0.8", "Quake", "0:10:00", "12:10:00", "0:20:00");
    const struct
    {
        std::vector<StationRow> rows;
        std::string enabled; // Free, Block, Wait, StartPaid, StartGame
    } cases[] = {
        {{closed, stationRow("C2", "127.0.0.9", words::Closed)}, "10111"},
        {{closed, unloaded}, "00000"},
        {{closed, waiting}, "10000"},
        {{paid, game}, "11000"},
        {{closed, paid}, "10010"},
        {{closed, game}, "10001"},
    };
    for (const auto& c : cases) {
        FakeTable room;
        std::vector<StationKey> keys;
        for (const StationRow& row : c.rows) {
            room.add(row);
            keys.push_back({row[ColComputer], row[ColAddress]});
        }
        CommandMenuController group{prices, games, transport, StationRows::of(room)};
        ASSERT_TRUE(group.open(keys));
        std::string enabled;
        for (const int tag : {tags::Free, tags::Block, tags::Wait, tags::StartPaid, tags::StartGame}) {
            for (const auto& item : group.items())
                if (item.tag == tag) {
                    enabled += item.enabled ? '1' : '0';
                    break;
                }
        }
        EXPECT_EQ(enabled, c.enabled) << c.rows[0][ColComputer] << "+" << c.rows[1][ColComputer];
        EXPECT_TRUE(group.forGroup());
        EXPECT_FALSE(group.station());
    }

    // A list naming one station is that station's menu.
    ASSERT_TRUE(menu.open(std::vector<StationKey>{B, B}));
    EXPECT_EQ(menu.station(), B);
    EXPECT_FALSE(menu.forGroup());
}

TEST_F(ControllerFixture, SeveralStationsEachGetTheCommandAndTheFailuresComeTogether)
{
    table.add(stationRow("C", "127.0.0.4", words::Closed)); // not connected
    table.add(stationRow("D", "127.0.0.5", words::Closed)); // leaves before the click
    ASSERT_TRUE(menu.open(std::vector<StationKey>{{"D", "127.0.0.5"}, B, {"C", "127.0.0.4"}, A}));
    table.rows.erase(table.rows.begin() + 4);
    std::vector<GroupOutcome> told;
    menu.clickAll(tags::PowerOff, "", noDialog(), [&told](GroupOutcome outcome) { told.push_back(outcome); });
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(transport.sent[0].address, "127.0.0.3");
    EXPECT_EQ(transport.sent[1].address, "127.0.0.2");
    EXPECT_EQ(transport.lastCommand().code, CommandCode::cmdPowerOff);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].result, ClickResult::Sent);
    EXPECT_EQ(told[0].message(), "Команду получили не все компьютеры:\n"
                                 "Компьютер D (127.0.0.5) отключился, команда не отправлена\n"
                                 "Компьютер C (127.0.0.4) не подключен");

    // A transport that sends on another thread: one answer, after the last station's, whatever
    // the order the answers come in.
    struct LaterTransport : FakeTransport
    {
        std::vector<SendDone> waiting;
        void post(std::string, const StationCommand&, SendDone done) override { waiting.push_back(std::move(done)); }
    } later;
    later.connected = {"127.0.0.2", "127.0.0.3"};
    CommandMenuController async{prices, games, later, StationRows::of(table)};
    ASSERT_TRUE(async.open(std::vector<StationKey>{A, B}));
    told.clear();
    async.clickAll(tags::Reboot, "", noDialog(), [&told](GroupOutcome outcome) { told.push_back(outcome); });
    ASSERT_EQ(later.waiting.size(), 2u);
    later.waiting[1](SendResult::NotDelivered);
    EXPECT_TRUE(told.empty());
    later.waiting[0](SendResult::Sent);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].message(), "Команду получили не все компьютеры:\nКоманда не доставлена компьютеру B (127.0.0.3)");

    // A whole room missing it is listed so that the warning still fits the screen.
    GroupOutcome room{ClickResult::Sent, {}, {}, std::vector<ClickOutcome>(22, {ClickResult::NoConnection, A, {}, {}})};
    const std::string text = room.message().value_or("");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
    EXPECT_TRUE(text.ends_with("\nКомпьютер A (127.0.0.2) не подключен\n…и еще 2")) << text;
}

TEST_F(ControllerFixture, SeveralStationsAreAskedTheIntervalOnceEachGettingItsOwnGame)
{
    ASSERT_TRUE(menu.open(std::vector<StationKey>{A, B}));
    std::vector<GroupOutcome> told;
    const auto record = [&told](GroupOutcome outcome) { told.push_back(outcome); };
    menu.clickAll(tags::StartGame, "Quake", answer(IntervalChoice{30, IntervalSign::Plus}), record);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(askedWithSign); // B runs a game
    ASSERT_EQ(transport.sent.size(), 2u);
    EXPECT_EQ(decodeStationCommand(transport.sent[0].bytes)->time, 30 / 1440.0); // A starts afresh
    EXPECT_EQ(decodeStationCommand(transport.sent[1].bytes)->time, 75 / 1440.0); // B's 45 minutes + 30
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].message(), std::nullopt);

    // Cancelled: nothing goes anywhere, nothing is reported. Nobody reachable: nothing is asked.
    menu.clickAll(tags::WaitGame, "Quake", answer(std::nullopt), record);
    EXPECT_EQ(told.back().result, ClickResult::Cancelled);
    transport.connected.clear();
    menu.clickAll(tags::StartGame, "Quake", noDialog(), record);
    EXPECT_EQ(told.back().failures.size(), 2u);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(transport.sent.size(), 2u);

    // One station whose time cannot be read gets nothing; the other gets its game.
    transport.connected = {"127.0.0.2", "127.0.0.3"};
    table.rows[2][ColLeft] = "x";
    menu.clickAll(tags::StartGame, "Quake", answer(IntervalChoice{30, IntervalSign::Plus}), record);
    EXPECT_EQ(transport.sent.size(), 3u);
    EXPECT_EQ(told.back().message(), "Команду получили не все компьютеры:\nКомпьютер B (127.0.0.3): время сеанса "
                                     "не прочитано, команда не отправлена");
}

TEST_F(ControllerFixture, SeveralStationsAreAskedAboutOnceNamingTheRunningSessions)
{
    table.add(stationRow("C", "127.0.0.4", words::Closed));
    ASSERT_TRUE(menu.open(std::vector<StationKey>{A, B, {"C", "127.0.0.4"}}));
    EXPECT_EQ(menu.confirmation(tags::Reboot), std::nullopt);
    table.rows[2][ColSum] = "12,50";
    table.rows[3][ColSum] = "1,00";
    EXPECT_EQ(menu.confirmation(tags::Reboot), "Перезагрузить выбранные компьютеры (3)?\nИдущих сеансов среди них: 2.");
    EXPECT_EQ(menu.confirmation(tags::Free), std::nullopt);
}

TEST(StationRows, RoomCommandsReachTheFreeAndUnloadedStations)
{
    FakeTable room;
    const struct
    {
        StationRow row;
        bool free;
    } cases[] = {
        {stationRow("1", "127.0.0.1", words::Free), true},
        {stationRow("2", "127.0.0.2", words::Unloaded), true},
        {stationRow("3", "127.0.0.3", words::Closed), false},
        {stationRow("4", "127.0.0.4", words::WaitingPaid), false},
        {stationRow("5", "127.0.0.5", words::WaitingGame), false},
        {[] {
             auto row = stationRow("6", "127.0.0.6", "Day", "0:10:00", "12:10:00");
             row[ColSum] = "1,00";
             return row;
         }(),
         false},
        {stationRow("7", "127.0.0.7", "Day", "", ""), true}, // a finished session's text, nothing charged
    };
    std::vector<StationKey> expected;
    for (const auto& c : cases) {
        room.add(c.row);
        EXPECT_EQ(isFreeStation(c.row), c.free) << c.row[ColComputer];
        if (c.free)
            expected.push_back({c.row[ColComputer], c.row[ColAddress]});
    }
    EXPECT_EQ(StationRows::of(room).select(isFreeStation), expected);

    // The hall's room commands go to those stations, or to all, after one question with the count.
    const StationRows rows = StationRows::of(room);
    const auto rebootFree = roomCommand(rows, tags::Reboot, true);
    EXPECT_EQ(rebootFree.targets, expected);
    EXPECT_EQ(rebootFree.question, "Перезагрузить свободные компьютеры (3)?");
    const auto powerOffFree = roomCommand(rows, tags::PowerOff, true);
    EXPECT_EQ(powerOffFree.targets, expected);
    EXPECT_EQ(powerOffFree.question, "Выключить свободные компьютеры (3)?");
    const auto powerOffAll = roomCommand(rows, tags::PowerOff, false);
    EXPECT_EQ(powerOffAll.targets.size(), std::size(cases));
    EXPECT_EQ(powerOffAll.question, "Выключить все компьютеры (7)?\nИдущих сеансов среди них: 1.");
    const FakeTable empty;
    EXPECT_TRUE(roomCommand(StationRows::of(empty), tags::Reboot, true).targets.empty());
    EXPECT_EQ(roomCommand(StationRows::of(empty), tags::Reboot, true).question, "");
}

} // namespace
} // namespace ostrel
