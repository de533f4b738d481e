#include "stations/ReportProcessor.h"

#include "commands/ShutdownNotes.h"

#include "support/StationsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>

namespace ostrel {
namespace {

using namespace testing;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

std::vector<std::string> sessionCells(const StationsWorld& w, int row)
{
    std::vector<std::string> out;
    for (int c = ColStatus; c <= ColSum; ++c)
        out.push_back(w.cell(row, c));
    return out;
}

std::uintmax_t logSize(const StationsWorld& w)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(w.log.path(), ec);
    return ec ? 0 : size;
}

void disconnect(StationsWorld& w, FakeLink& link)
{
    link.closed = true;
    w.processor.stationDisconnected(link);
}

TEST(ReportProcessor, SessionCodesWriteTheirCells)
{
    const auto running = sessionReport(2, "Standard", at(10, 0, 0), at(11, 30, 59), 2);
    struct Case
    {
        StationReport report;
        std::vector<std::string> cells; // columns 2..8
    } cases[] = {
        {running, {"Standard", "2,00", "10:00:00", "1:30:59", "11:30:59", "", "180,00"}},
        // Money ties round away from zero, as the cashier does: 1234,25 is 1234,30.
        {sessionReport(2, "Tie", at(10, 0, 0), at(10, 1, 0), 1234.25),
         {"Tie", "1234,30", "10:00:00", "0:01:00", "10:01:00", "", "1234,30"}},
        // An allowance of one hour overrun by ten minutes shows the overrun without a sign.
        {sessionReport(5, "Quake", at(10, 0, 0), at(11, 10, 0), 1.5, Hour),
         {"Quake", "1,50", "10:00:00", "1:10:00", "11:10:00", "0:10:00", "105,00"}},
        {sessionReport(5, "Quake", at(10, 0, 0), at(10, 15, 30), 1, Hour),
         {"Quake", "1,00", "10:00:00", "0:15:30", "10:15:30", "0:44:30", "15,00"}},
        // Every whole minute is charged, days included; the time cells show the time of day.
        {sessionReport(2, "Night", at(10, 0, 0), at(10, 0, 0) + 25 * Hour, 1),
         {"Night", "1,00", "10:00:00", "1:00:00", "11:00:00", "", "1500,00"}},
        // A finish before the start is charged by the absolute value.
        {sessionReport(2, "", at(11, 0, 0), at(10, 0, 0), 0.5),
         {"", "0,50", "11:00:00", "1:00:00", "10:00:00", "", "30,00"}},
    };
    for (const auto& c : cases) {
        StationsWorld w;
        FakeLink link("pc1", "127.0.0.2");
        EXPECT_TRUE(w.processor.applyReport(link, c.report));
        ASSERT_EQ(w.table.rowCount(), 3);
        EXPECT_EQ(w.cell(1, ColComputer), "pc1");
        EXPECT_EQ(w.cell(1, ColAddress), "127.0.0.2");
        EXPECT_EQ(sessionCells(w, 1), c.cells) << c.report.statusText;
        EXPECT_EQ(w.table.row(2), StationRow{});
    }
}

TEST(ReportProcessor, IdleCodesShowTheirWordAndEmptyTheSession)
{
    const std::pair<std::int32_t, std::string_view> cases[] = {
        {0, words::Unloaded}, {1, words::Closed}, {4, words::WaitingPaid}, {6, words::WaitingGame}};
    for (const auto& [code, word] : cases) {
        StationsWorld w;
        FakeLink link("pc1", "127.0.0.2");
        w.processor.applyReport(link, sessionReport(5, "Quake", at(10, 0, 0), at(10, 5, 0), 1, Hour));
        // The doubles of an idle report are not used, so not even NaN drops it.
        auto idle = codeReport(code);
        idle.start = NaN;
        EXPECT_TRUE(w.processor.applyReport(link, idle));
        EXPECT_EQ(sessionCells(w, 1), (std::vector<std::string>{std::string(word), "", "", "", "", "", ""})) << code;
    }
}

TEST(ReportProcessor, UnknownCodesChangeNothingButAStationStillGetsItsRow)
{
    for (std::int32_t code : {7, 9, -1, 101}) {
        StationsWorld w;
        FakeLink fresh("new", "127.0.0.3");
        EXPECT_TRUE(w.processor.applyReport(fresh, codeReport(code)));
        EXPECT_EQ(sessionCells(w, 1), (std::vector<std::string>{std::string(words::Free), "", "", "", "", "", ""}));

        FakeLink busy("old", "127.0.0.2");
        w.processor.applyReport(busy, sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2));
        const auto before = sessionCells(w, 2);
        EXPECT_TRUE(w.processor.applyReport(busy, codeReport(code)));
        EXPECT_EQ(sessionCells(w, 2), before) << code;
    }
}

TEST(ReportProcessor, FinishedSessionKeepsTimeLeftAndLogsOkEveryTime)
{
    StationsWorld w;
    FakeLink link("pc1", "127.0.0.2");
    w.processor.applyReport(link, sessionReport(5, "Quake", at(10, 0, 0), at(10, 20, 0), 1, Hour));
    const auto finished = sessionReport(3, "Quake", at(10, 0, 0), at(10, 30, 0), 1, Hour);
    EXPECT_TRUE(w.processor.applyReport(link, finished));
    EXPECT_EQ(sessionCells(w, 1),
              (std::vector<std::string>{"Quake", "1,00", "10:00:00", "0:30:00", "10:30:00", "0:40:00", "30,00"}));
    ASSERT_EQ(w.history.rowCount(), 3);
    EXPECT_EQ(w.history.row(1)[HistoryColComment], "Ok");
    EXPECT_EQ(w.history.row(1)[ColLeft], "0:40:00");
    EXPECT_EQ(logSize(w), 168u);

    EXPECT_TRUE(w.processor.applyReport(link, finished));
    EXPECT_EQ(w.history.rowCount(), 4);
    EXPECT_EQ(logSize(w), 336u);
    EXPECT_EQ(w.processor.failedLogs(), 0u);
}

// The time left is read for a running game only: whatever else a paid or finished session's report
// carries there, it is applied, and a finished one is logged.
TEST(ReportProcessor, AllowanceIsJudgedOnlyWhereItIsShown)
{
    const double junk[] = {NaN, Inf, -Inf, 1e300, -std::numeric_limits<double>::max()};
    for (const std::int32_t code : {2, 3}) {
        for (const double allowance : junk) {
            SCOPED_TRACE("code " + std::to_string(code) + ", allowance " + std::to_string(allowance));
            StationsWorld w;
            FakeLink link("pc1", "127.0.0.2");
            w.processor.applyReport(link, sessionReport(5, "Quake", at(10, 0, 0), at(10, 20, 0), 1, Hour));
            EXPECT_TRUE(
                w.processor.applyReport(link, sessionReport(code, "Quake", at(10, 0, 0), at(10, 30, 0), 1, allowance)));
            EXPECT_EQ(sessionCells(w, 1), (std::vector<std::string>{"Quake", "1,00", "10:00:00", "0:30:00", "10:30:00",
                                                                    code == 2 ? "" : "0:40:00", "30,00"}));
            ASSERT_EQ(w.history.rowCount(), code == 3 ? 3 : 2);
            if (code == 3) {
                EXPECT_EQ(w.history.row(1)[HistoryColComment], "Ok");
                EXPECT_EQ(logSize(w), 168u);
            }
        }
    }
}

TEST(ReportProcessor, ChangeCallbackOnlyWhenSomethingChanged)
{
    StationsWorld w;
    int changes = 0;
    w.processor.setChangedCallback([&] {
        // Called after the mutex was released: another thread could take it now.
        std::thread other([] { std::scoped_lock hold(StationTableMutex); });
        other.join();
        ++changes;
    });
    FakeLink link("pc1", "127.0.0.2");
    const auto running = sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2);
    const std::pair<StationReport, int> steps[] = {
        {codeReport(1), 1},                                               // new row
        {codeReport(1), 1},                                               // the same texts again
        {codeReport(8), 1},                                               // unknown code
        {running, 2},                                                     //
        {sessionReport(2, "S", NaN, at(10, 0, 0), 2), 2},                 // dropped
        {sessionReport(3, "Standard", at(10, 0, 0), at(10, 1, 0), 2), 3}, // same cells, but logged
    };
    for (const auto& [report, expected] : steps) {
        w.processor.applyReport(link, report);
        EXPECT_EQ(changes, expected) << report.statusCode;
    }
}

// The record waits in memory for the file; the history table shows the session meanwhile.
TEST(ReportProcessor, FailedOkLogLeavesTheCellsWritten)
{
    StationsWorld w;
    SessionLog unwritable(w.dir.file("missing/Ostrel.log"), w.history);
    ReportProcessor p(w.table, w.history, unwritable, w.transport, w.prices, w.games, {true, false});
    FakeLink link("pc1", "127.0.0.2");
    EXPECT_TRUE(p.applyReport(link, sessionReport(3, "Standard", at(10, 0, 0), at(10, 2, 0), 2)));
    EXPECT_EQ(w.cell(1, ColSum), "4,00");
    EXPECT_EQ(w.history.rowCount(), 3);
    EXPECT_EQ(unwritable.faults().sessions.count, 1u);
    EXPECT_EQ(p.failedLogs(), 1u);
}

TEST(ReportProcessor, ReportsThatCannotBeShownAreDroppedWhole)
{
    const double huge = std::numeric_limits<double>::max();
    struct Case
    {
        const char* what;
        StationReport report;
    } cases[] = {
        {"NaN start", sessionReport(2, "S", NaN, at(10, 0, 0), 1)},
        {"infinite finish", sessionReport(3, "S", at(10, 0, 0), Inf, 1)},
        {"NaN price", sessionReport(5, "S", at(10, 0, 0), at(10, 1, 0), NaN, Hour)},
        {"infinite allowance", sessionReport(5, "S", at(10, 0, 0), at(10, 1, 0), 1, -Inf)},
        {"start beyond the calendar", sessionReport(2, "S", 1e300, at(10, 0, 0), 1)},
        {"finish before year 1", sessionReport(2, "S", at(10, 0, 0), -1e7, 1)},
        {"sum overflows", sessionReport(2, "S", at(10, 0, 0), at(11, 0, 0), huge)},
        {"price the log cannot store", sessionReport(2, "S", at(10, 0, 0), at(10, 1, 0), 1e16)},
        {"sum the log cannot store", sessionReport(2, "S", at(10, 0, 0), at(11, 0, 0), 1e14)},
        {"allowance beyond any time", sessionReport(5, "S", at(10, 0, 0), at(11, 0, 0), 1, 1e300)},
    };
    for (const auto& c : cases) {
        StationsWorld w;
        // A station seen for the first time: nothing happens at all, not even its row.
        FakeLink fresh("new", "127.0.0.3");
        EXPECT_FALSE(w.processor.applyReport(fresh, c.report)) << c.what;
        EXPECT_EQ(w.table.rowCount(), 2) << c.what;

        // A known station keeps its row as it was.
        FakeLink known("old", "127.0.0.2");
        w.processor.applyReport(known, sessionReport(5, "Quake", at(10, 0, 0), at(10, 5, 0), 1, Hour));
        const auto before = sessionCells(w, 1);
        EXPECT_FALSE(w.processor.applyReport(known, c.report)) << c.what;
        EXPECT_EQ(sessionCells(w, 1), before) << c.what;
        EXPECT_EQ(w.history.rowCount(), 2) << c.what;
        EXPECT_EQ(w.processor.droppedReports(), 2u);
    }
}

TEST(ReportProcessor, ReportsWithoutAUsableLinkAreDropped)
{
    StationsWorld w;
    FakeLink nameless("", "127.0.0.2");
    EXPECT_FALSE(w.processor.applyReport(nameless, codeReport(1)));
    EXPECT_EQ(w.table.rowCount(), 2);

    // A report received just before the close that obtains the mutex after the disconnect handling.
    FakeLink late("pc1", "127.0.0.2");
    w.processor.applyReport(late, sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2));
    disconnect(w, late);
    EXPECT_FALSE(w.processor.applyReport(late, sessionReport(2, "Standard", at(10, 0, 0), at(10, 2, 0), 2)));
    EXPECT_EQ(w.table.rowCount(), 2);
    EXPECT_EQ(w.table.row(1), StationRow{});
}

TEST(ReportProcessor, DisconnectLogsResetOnlyWhenTheSumIsSet)
{
    struct Case
    {
        StationReport last;
        bool logged;
    } cases[] = {
        {sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2), true},
        {sessionReport(5, "Quake", at(10, 0, 0), at(10, 1, 0), 1, Hour), true},
        {sessionReport(3, "Standard", at(10, 0, 0), at(10, 1, 0), 2), true}, // after "Ok", once more as "Reset"
        {codeReport(1), false},
        {codeReport(9), false},
    };
    for (const auto& c : cases) {
        StationsWorld w;
        FakeLink a("a", "127.0.0.2"), b("b", "127.0.0.3");
        w.processor.applyReport(a, c.last);
        w.processor.applyReport(b, codeReport(4));
        const int historyBefore = w.history.rowCount();
        disconnect(w, a);
        EXPECT_EQ(w.history.rowCount(), historyBefore + (c.logged ? 1 : 0)) << c.last.statusCode;
        if (c.logged) {
            EXPECT_EQ((*w.history.newest())[HistoryColComment], "Reset");
        }
        ASSERT_EQ(w.table.rowCount(), 3);
        EXPECT_EQ(w.cell(1, ColComputer), "b");
    }

    // Never reported, or already gone: nothing logged, nothing removed.
    StationsWorld w;
    FakeLink silent("s", "127.0.0.4"), other("t", "127.0.0.5");
    w.processor.applyReport(other, sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2));
    disconnect(w, silent);
    EXPECT_EQ(w.table.rowCount(), 3);
    EXPECT_EQ(w.history.rowCount(), 2);
}

TEST(ReportProcessor, DisconnectRemovesTheRowEvenWhenTheLogFails)
{
    StationsWorld w;
    SessionLog unwritable(w.dir.file("missing/Ostrel.log"), w.history);
    ReportProcessor p(w.table, w.history, unwritable, w.transport, w.prices, w.games, {true, false});
    FakeLink link("pc1", "127.0.0.2");
    p.applyReport(link, sessionReport(2, "Standard", at(10, 0, 0), at(10, 1, 0), 2));
    int changes = 0;
    p.setChangedCallback([&] { ++changes; });
    link.closed = true;
    p.stationDisconnected(link);
    EXPECT_EQ(w.table.rowCount(), 2);
    EXPECT_EQ(p.failedLogs(), 1u);
    EXPECT_EQ(changes, 1);
    p.stationDisconnected(link); // nothing left to change
    EXPECT_EQ(changes, 1);
}

// The resume trigger: a station whose session was cut by a reset comes back under the same name.
class ResumeTrigger : public ::testing::Test
{
protected:
    void cutSession(StationsWorld& w, const StationReport& last, const std::string& name = "pc1")
    {
        FakeLink link(name, "127.0.0.2");
        w.processor.applyReport(link, last);
        disconnect(w, link);
    }
    StationReport paid = sessionReport(2, "Standard", at(10, 0, 0), at(10, 30, 0), 2);
};

TEST_F(ResumeTrigger, SendsTheTariffOnTheReportThatCreatesTheRow)
{
    for (bool wait : {false, true}) {
        StationsWorld w({false, wait});
        cutSession(w, paid);
        FakeLink back("pc1", "127.0.0.2");
        w.transport.onSend = [&] {
            // Before the report's own status is written.
            EXPECT_EQ(w.table.cell(1, ColStatus), words::Free);
        };
        EXPECT_TRUE(w.processor.applyReport(back, codeReport(4)));
        ASSERT_EQ(w.transport.sent.size(), 1u);
        EXPECT_EQ(w.transport.addresses[0], "127.0.0.2");
        const auto command = decodeStationCommand(w.transport.sent[0]);
        ASSERT_TRUE(command);
        EXPECT_EQ(command->code, wait ? CommandCode::cmdWaitPaid : CommandCode::cmdStartPaid);
        EXPECT_EQ(command->tariff, "Standard");
        EXPECT_EQ(command->price, 2.0);
        EXPECT_EQ(command->time, 0.0);
        EXPECT_EQ(w.cell(1, ColStatus), words::WaitingPaid);

        w.processor.applyReport(back, codeReport(4)); // the row exists now: no second resume
        EXPECT_EQ(w.transport.sent.size(), 1u);
    }
}

TEST_F(ResumeTrigger, GameTariffCarriesTheTimeLeft)
{
    StationsWorld w({false, false});
    cutSession(w, sessionReport(5, "Quake", at(10, 0, 0), at(10, 15, 0), 1, Hour));
    FakeLink back("pc1", "127.0.0.2");
    w.processor.applyReport(back, codeReport(1));
    ASSERT_EQ(w.transport.sent.size(), 1u);
    const auto command = decodeStationCommand(w.transport.sent[0]);
    EXPECT_EQ(command->code, CommandCode::cmdStartGame);
    EXPECT_DOUBLE_EQ(command->time, 45 * Minute);
    EXPECT_EQ(command->price, 3.0);
}

TEST_F(ResumeTrigger, NothingIsSentUnlessTheNewestHistoryRowIsThisStationsReset)
{
    struct Case
    {
        const char* what;
        ResumeSettings settings;
        std::function<void(StationsWorld&)> before;
        std::string comingBackAs;
    } cases[] = {
        {"CloseAfterReset", {true, false}, [&](StationsWorld& w) { cutSession(w, paid); }, "pc1"},
        {"another session closed since",
         {false, false},
         [&](StationsWorld& w) {
             cutSession(w, paid);
             cutSession(w, paid, "pc2");
         },
         "pc1"},
        {"ended with Ok",
         {false, false},
         [&](StationsWorld& w) {
             // Logged with "Ok", then freed: the disconnect logs nothing more.
             FakeLink link("pc1", "127.0.0.2");
             w.processor.applyReport(link, sessionReport(3, "Standard", at(10, 0, 0), at(10, 1, 0), 2));
             w.processor.applyReport(link, codeReport(0));
             disconnect(w, link);
         },
         "pc1"},
        {"other host name", {false, false}, [&](StationsWorld& w) { cutSession(w, paid); }, "PC1"},
        {"no history", {false, false}, [](StationsWorld&) {}, "pc1"},
    };
    for (const auto& c : cases) {
        StationsWorld w(c.settings);
        c.before(w);
        FakeLink back(c.comingBackAs, "127.0.0.2");
        EXPECT_TRUE(w.processor.applyReport(back, codeReport(1))) << c.what;
        EXPECT_TRUE(w.transport.sent.empty()) << c.what;
    }
}

// The operator's power-off or log-off ends the session for good: its "Reset" stays, and the station
// starts again without it. A reboot is what resumption is for.
TEST_F(ResumeTrigger, AStationTheOperatorSwitchedOffIsNotResumed)
{
    struct Case
    {
        const char* what;
        CommandCode code;
        const char* to;
        SendResult result;
        double secondsBeforeTheDrop;
        bool resumed;
    } cases[] = {
        {"powered off", CommandCode::cmdPowerOff, "127.0.0.2", SendResult::Sent, 10, false},
        {"logged off", CommandCode::cmdLogOff, "127.0.0.2", SendResult::Sent, 59.9, false},
        {"rebooted", CommandCode::cmdReboot, "127.0.0.2", SendResult::Sent, 10, true},
        {"powered off a minute before", CommandCode::cmdPowerOff, "127.0.0.2", SendResult::Sent, 60, true},
        {"the power-off did not go out", CommandCode::cmdPowerOff, "127.0.0.2", SendResult::NotDelivered, 10, true},
        {"another station powered off", CommandCode::cmdPowerOff, "127.0.0.3", SendResult::Sent, 10, true},
        {"apps killed", CommandCode::cmdKillApps, "127.0.0.2", SendResult::Sent, 10, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StationsWorld w({false, false});
        double now = 1000;
        ShutdownNotes notes([&] { return now; });
        w.processor.setShutdownNotes(&notes);
        FakeLink link("pc1", "127.0.0.2");
        w.processor.applyReport(link, paid);
        notes.record(c.to, StationCommand{c.code, {}, 0, 0}, c.result, CommandOrigin::Operator);
        now += c.secondsBeforeTheDrop;
        disconnect(w, link);
        EXPECT_EQ(w.history.row(1)[HistoryColComment], words::Reset);
        now += 120; // booted after more than the minute
        FakeLink back("pc1", "127.0.0.2");
        EXPECT_TRUE(w.processor.applyReport(back, codeReport(4)));
        EXPECT_EQ(w.transport.sent.size(), c.resumed ? 1u : 0u);

        // The next time it drops, without a command, it is resumed as ever.
        w.processor.applyReport(back, paid);
        disconnect(w, back);
        FakeLink third("pc1", "127.0.0.2");
        w.processor.applyReport(third, codeReport(4));
        EXPECT_EQ(w.transport.sent.size(), c.resumed ? 2u : 1u);
    }
}

TEST_F(ResumeTrigger, FailedResumeAbandonsTheReportButKeepsTheRow)
{
    StationsWorld w({false, false});
    cutSession(w, paid);
    w.transport.connected = false;
    FakeLink back("pc1", "127.0.0.2");
    EXPECT_FALSE(w.processor.applyReport(back, codeReport(4)));
    EXPECT_EQ(w.processor.failedResumes(), 1u);
    EXPECT_EQ(w.cell(1, ColComputer), "pc1");
    EXPECT_EQ(w.cell(1, ColStatus), words::Free);
}

TEST_F(ResumeTrigger, NestedDisconnectDuringTheSendDropsTheReport)
{
    StationsWorld w({false, false});
    cutSession(w, paid);
    FakeLink neighbour("pc2", "127.0.0.3");
    w.processor.applyReport(neighbour, sessionReport(2, "Night", at(9, 0, 0), at(9, 30, 0), 1));
    FakeLink back("pc1", "127.0.0.2");
    // The send fails: the connection is closed and the disconnect handling runs on this thread,
    // inside the processor's hold of the mutex.
    w.transport.onSend = [&] { disconnect(w, back); };
    const auto neighbourBefore = sessionCells(w, 1);
    EXPECT_FALSE(w.processor.applyReport(back, sessionReport(2, "Standard", at(10, 0, 0), at(10, 45, 0), 2)));
    ASSERT_EQ(w.table.rowCount(), 3);
    EXPECT_EQ(w.cell(1, ColComputer), "pc2");
    EXPECT_EQ(sessionCells(w, 1), neighbourBefore);
    EXPECT_EQ(w.table.row(2), StationRow{});
}

TEST_F(ResumeTrigger, DisconnectDuringTheSendWaitsUntilTheReportIsDone)
{
    StationsWorld w({false, false});
    cutSession(w, paid);
    FakeLink back("pc1", "127.0.0.2");
    int rowsWhileSending = 0;
    w.transport.onSend = [&] {
        disconnect(w, back);
        rowsWhileSending = w.table.rowCount();
    };
    EXPECT_FALSE(w.processor.applyReport(back, codeReport(4)));
    EXPECT_EQ(rowsWhileSending, 3); // the new row stays while the report that made it is applied
    EXPECT_EQ(w.table.rowCount(), 2);
    EXPECT_FALSE(w.table.FindStationRow("pc1"));
}

} // namespace
} // namespace ostrel
