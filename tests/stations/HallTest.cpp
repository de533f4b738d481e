#include "stations/AlertRules.h"
#include "stations/DaySummary.h"
#include "stations/DroppedStations.h"
#include "stations/HallWatch.h"
#include "stations/LiveSummary.h"

#include "commands/ShutdownNotes.h"
#include "core/Texts.h"

#include "support/StationsTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace ostrel {
namespace {

using namespace testing;

StationRow row(std::string name, std::string tariff = {}, std::string sum = {}, std::string left = {})
{
    StationRow r;
    r[ColComputer] = std::move(name);
    r[ColAddress] = "127.0.0.2";
    r[ColStatus] = tariff.empty() ? std::string(words::Closed) : tariff;
    if (!sum.empty()) {
        r[ColPrice] = "2,00";
        r[ColSum] = std::move(sum);
        r[ColLeft] = std::move(left);
    }
    return r;
}

// The processor's observer hooks, end to end: what a drop leaves, what a reconnect takes away.
TEST(HallWatch, ListsDroppedStationsUntilTheyReconnect)
{
    StationsWorld w;
    double now = at(12, 0, 0);
    HallWatch watch({}, [&] { return now; });
    int wakes = 0;
    watch.setWake([&] { ++wakes; });
    w.processor.addObserver(watch);

    FakeLink a("A", "127.0.0.2"), b("B", "127.0.0.3");
    ASSERT_TRUE(w.processor.applyReport(a, sessionReport(5, "Quake", at(11, 0, 0), at(11, 50, 0), 3, 60 * Minute)));
    ASSERT_TRUE(w.processor.applyReport(b, codeReport(1)));
    a.closed = true;
    w.processor.stationDisconnected(a);
    now = at(12, 0, 5);
    b.closed = true;
    w.processor.stationDisconnected(b);
    EXPECT_GE(wakes, 2);

    auto list = watch.dropped();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], (DroppedStation{"A", "127.0.0.2", at(12, 0, 0), "Quake", "3,00", "150,00", "0:10:00"}));
    EXPECT_EQ(list[1], (DroppedStation{"B", "127.0.0.3", at(12, 0, 5), {}, {}, {}, {}}));
    EXPECT_FALSE(list[1].heldSession());

    FakeLink again("A", "127.0.0.2"); // a new connection: its first report makes the row again
    ASSERT_TRUE(w.processor.applyReport(again, codeReport(1)));
    list = watch.dropped();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].computer, "B");

    watch.clearDropped();
    EXPECT_TRUE(watch.dropped().empty());
}

// A drop within the minute after the server sent the station away is the operator's: listed so, and
// neither a drop alert nor part of a power cut.
TEST(HallWatch, DropsTheServerCausedRaiseNoAlert)
{
    struct Case
    {
        const char* what;
        CommandCode code;
        double secondsBeforeTheDrops;
        bool byOperator;
    } cases[] = {
        {"rebooted", CommandCode::cmdReboot, 5, true},
        {"powered off", CommandCode::cmdPowerOff, 59, true},
        {"logged off", CommandCode::cmdLogOff, 1, true},
        {"powered off a minute before", CommandCode::cmdPowerOff, 60, false},
        {"apps killed", CommandCode::cmdKillApps, 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StationsWorld w;
        double seconds = 0;
        ShutdownNotes notes([&] { return seconds; });
        HallWatch watch({}, [&] { return at(12, 0, 0) + seconds * Second; });
        watch.setShutdownNotes(&notes);
        w.processor.addObserver(watch);
        std::vector<std::unique_ptr<FakeLink>> links;
        for (int i = 0; i < 3; ++i) {
            const std::string address = "127.0.0." + std::to_string(2 + i);
            links.push_back(std::make_unique<FakeLink>("pc" + std::to_string(i), address));
            ASSERT_TRUE(
                w.processor.applyReport(*links.back(), sessionReport(2, "Standard", at(11, 0, 0), at(11, 30, 0), 2)));
            notes.record(address, StationCommand{c.code, {}, 0, 0}, SendResult::Sent, CommandOrigin::Operator);
        }
        seconds = c.secondsBeforeTheDrops;
        for (auto& link : links) {
            link->closed = true;
            w.processor.stationDisconnected(*link);
        }
        const auto alerts = watch.takeAlerts(); // not yet due for the burst
        seconds += 10;
        const auto later = watch.takeAlerts();
        EXPECT_TRUE(alerts.empty());
        if (c.byOperator)
            EXPECT_TRUE(later.empty());
        else
            EXPECT_EQ(later, (std::vector<HallAlert>{{HallAlert::Kind::PowerCut, {}, {}, {}, {}, 3}}));
        const auto list = watch.dropped();
        ASSERT_EQ(list.size(), 3u);
        for (const DroppedStation& d : list)
            EXPECT_EQ(d.byOperator, c.byOperator) << d.computer;
    }
}

TEST(DroppedStations, DropAgainReplacesAndRemovalCountsOnlyListedOnes)
{
    DroppedStations list;
    list.dropped(row("A", "Quake", "10,00"), 1.0);
    list.dropped(row("B"), 2.0);
    list.dropped(row("A"), 3.0); // dropped again after coming back idle: one entry, the newest
    ASSERT_EQ(list.entries().size(), 2u);
    EXPECT_EQ(list.entries()[0].computer, "B");
    EXPECT_EQ(list.entries()[1].droppedAt, 3.0);
    EXPECT_FALSE(list.entries()[1].heldSession());
    const auto version = list.version();
    EXPECT_FALSE(list.reconnected("C"));
    EXPECT_EQ(list.version(), version); // nothing to repaint
    EXPECT_TRUE(list.remove("B"));
    list.dropped(StationRow{}, 4.0); // a nameless row is never listed
    ASSERT_EQ(list.entries().size(), 1u);
}

TEST(AlertRules, DropsAreToldByNameOrAsOnePowerCut)
{
    struct Drop
    {
        const char* name;
        bool session;
        double second; // after 12:00:00
    };
    struct Case
    {
        const char* what;
        std::vector<Drop> drops;
        double takeAtSecond;
        std::vector<HallAlert> expected;
    };
    const auto named = [](const char* name) {
        return HallAlert{HallAlert::Kind::Dropped, name, "Quake", "12,00", {}, 0};
    };
    const auto cut = [](int count) { return HallAlert{HallAlert::Kind::PowerCut, {}, {}, {}, {}, count}; };
    const Case cases[] = {
        {"one with a session", {{"A", true, 0}}, 3.5, {named("A")}},
        {"not before the burst closes", {{"A", true, 0}}, 2.9, {}},
        {"one without a session", {{"A", false, 0}}, 3.5, {}},
        {"two close together", {{"A", true, 0}, {"B", true, 1}}, 3.5, {named("A"), named("B")}},
        {"three in two seconds", {{"A", true, 0}, {"B", false, 1}, {"C", true, 2}}, 3.5, {cut(3)}},
        {"three, but the last after the window",
         {{"A", true, 0}, {"B", true, 1}, {"C", true, 4}},
         7.5,
         {named("A"), named("B"), named("C")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AlertRules rules;
        std::vector<HallAlert> got;
        for (const Drop& d : c.drops) {
            rules.dropped(d.session ? row(d.name, "Quake", "12,00") : row(d.name), at(12, 0, 0) + d.second * Second);
            // A drop after the window closed tells the old burst first; collect it as the GUI would.
            for (auto& a : rules.take(at(12, 0, 0) + d.second * Second))
                got.push_back(a);
        }
        for (auto& a : rules.take(at(12, 0, 0) + c.takeAtSecond * Second))
            got.push_back(a);
        EXPECT_EQ(got, c.expected);
        rules.take(at(13, 0, 0));
        EXPECT_TRUE(rules.take(at(13, 0, 0)).empty()); // each alert is given once
    }
}

TEST(AlertRules, GameTimeIsWarnedOncePerSessionAndOverrunMarkedUntilTheNext)
{
    struct Report
    {
        int code;
        double start;     // minutes after 10:00
        double elapsed;   // minutes
        double allowance; // minutes
    };
    struct Case
    {
        const char* what;
        int warnMinutes;
        std::vector<Report> reports;
        int warnings;
        bool overrunAtEnd;
    };
    const Case cases[] = {
        {"warned when five minutes are left, once", 5, {{5, 0, 50, 60}, {5, 0, 55.5, 60}, {5, 0, 56, 60}}, 1, false},
        {"never above the threshold", 5, {{5, 0, 10, 60}, {5, 0, 54.9, 60}}, 0, false},
        {"0 turns warnings off but not the over-run mark", 0, {{5, 0, 59, 60}, {5, 0, 61, 60}}, 0, true},
        {"a game sold shorter than the warning is not warned", 5, {{5, 0, 1, 3}, {5, 0, 2, 3}}, 0, false},
        {"every session warns once", 5, {{5, 0, 56, 60}, {5, 70, 56, 60}, {5, 70, 57, 60}}, 2, false},
        {"straight to over-run: marked, not warned", 5, {{5, 0, 30, 60}, {5, 0, 61, 60}}, 0, true},
        {"the mark outlives the end and the waiting", 5, {{5, 0, 61, 60}, {3, 0, 62, 60}, {4, 0, 0, 0}}, 0, true},
        {"a new paid session ends the mark", 5, {{5, 0, 61, 60}, {4, 0, 0, 0}, {2, 90, 1, 0}}, 0, false},
        {"paid time is never warned", 5, {{2, 0, 58, 0}}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AlertRules rules({.warnMinutes = c.warnMinutes});
        int warnings = 0;
        for (const Report& r : c.reports) {
            const double start = at(10, 0, 0) + r.start * Minute;
            StationReport report = r.code == 4 ? codeReport(4)
                                               : sessionReport(r.code, "Quake", start, start + r.elapsed * Minute, 1,
                                                               r.allowance * Minute);
            StationRow cells = row("A", "Quake", "1,00", "0:05:00");
            rules.reported(cells, report);
            for (const HallAlert& a : rules.take(at(23, 0, 0))) {
                EXPECT_EQ(a.kind, HallAlert::Kind::TimeLow);
                EXPECT_EQ(a.computer, "A");
                ++warnings;
            }
        }
        EXPECT_EQ(warnings, c.warnings);
        EXPECT_EQ(rules.overrun("A"), c.overrunAtEnd);
        EXPECT_EQ(rules.overrunStations().size(), c.overrunAtEnd ? 1u : 0u);
    }
}

// The hall collects its alerts and over-run marks only when woken: a report that brings a warning or
// the first over-run wakes it, once; the same session's later reports do not.
TEST(HallWatch, WarningAndFirstOverrunWakeTheHallOnce)
{
    struct Case
    {
        const char* what;
        double elapsed;      // minutes of a 60-minute game, first report
        double laterElapsed; // the same session's next report
    };
    const Case cases[] = {
        {"time-left warning", 56, 57},
        {"first over-run", 61, 62},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HallWatch watch({.warnMinutes = 5}, [] { return at(12, 0, 0); });
        int wakes = 0;
        watch.setWake([&] { ++wakes; });
        const StationRow cells = row("A", "Quake", "1,00", "0:04:00");
        const double start = at(10, 0, 0);
        const auto report = [&](double elapsed) {
            return sessionReport(5, "Quake", start, start + elapsed * Minute, 1, 60 * Minute);
        };
        watch.stationReported(cells, report(30)); // neither yet
        EXPECT_EQ(wakes, 0);
        watch.stationReported(cells, report(c.elapsed));
        EXPECT_EQ(wakes, 1);
        watch.stationReported(cells, report(c.laterElapsed));
        EXPECT_EQ(wakes, 1);
    }
}

SessionLogRecord logged(double closedAt, std::string computer, std::string tariff, double sum, double start = 0.4)
{
    SessionLogRecord r;
    r.closedAt = closedAt;
    r.computer = std::move(computer);
    r.address = "127.0.0.2";
    r.status = std::move(tariff);
    r.price = 2;
    r.start = start;
    r.finish = start + 0.01;
    r.duration = 0.01;
    r.sum = sum;
    r.comment = "Ok";
    return r;
}

TEST(DaySummary, AddsTodaysSessionsOnceAndTheRunningSums)
{
    const double today = at(12, 0, 0);
    StationRow paid = row("P", "Standard", "30,00");
    StationRow game = row("G", "Quake", "12,00", "0:10:00");
    StationRow finished = row("F", "Standard", "20,00"); // logged "Ok", sum still in the row
    finished[ColStart] = "9:36:00";                      // 0.4 days
    finished[ColFinish] = "9:50:24";                     // 0.41 days
    StationRow waiting = row("W");
    waiting[ColStatus] = std::string(words::WaitingGame);
    StationRow unloaded = row("U");
    unloaded[ColStatus] = std::string(words::Unloaded);
    StationRow fresh = row("N");
    fresh[ColStatus] = std::string(words::Free);
    const std::vector<StationRow> table{StationRow{}, paid,  game,     finished,    waiting,
                                        unloaded,     fresh, row("C"), StationRow{}};

    struct Case
    {
        const char* what;
        std::vector<SessionLogRecord> records;
        std::uint64_t sessions;
        double logged;
        double running;
        std::map<std::string, double> perTariff;
    };
    SessionLogRecord loggedF = logged(today, "F", "Standard", 20);
    loggedF.start = *parseTime(finished[ColStart]);
    loggedF.finish = *parseTime(finished[ColFinish]);
    const Case cases[] = {
        {"nothing logged", {}, 0, 0, 62, {{"Standard", 50}, {"Quake", 12}}},
        {"yesterday's sessions do not count",
         {logged(today - 1, "X", "Standard", 100), logged(today, "X", "Night", 5)},
         1,
         5,
         62,
         {{"Standard", 50}, {"Quake", 12}, {"Night", 5}}},
        {"Ok then Reset with the same figures counts once",
         {logged(today, "X", "Night", 5), logged(today + Minute, "X", "Night", 5)},
         1,
         5,
         62,
         {{"Standard", 50}, {"Quake", 12}, {"Night", 5}}},
        {"a finished row already logged is not running", {loggedF}, 1, 20, 42, {{"Standard", 50}, {"Quake", 12}}},
        {"Ok then Reset with another sum counts both",
         {logged(today, "X", "Night", 5),
          [&] {
              SessionLogRecord r = logged(today + Minute, "X", "Night", 7);
              r.comment = "Reset";
              return r;
          }()},
         2,
         12,
         62,
         {{"Standard", 50}, {"Quake", 12}, {"Night", 12}}},
        {"a record dated tomorrow (a PC clock a day ahead) neither counts nor ends today",
         {logged(today + 1, "X", "Night", 100), logged(today, "Y", "Night", 5)},
         1,
         5,
         62,
         {{"Standard", 50}, {"Quake", 12}, {"Night", 5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DaySummary summary(today);
        for (const auto& r : c.records)
            summary.add(r);
        const SummaryFigures f = summary.figures(table);
        EXPECT_EQ(f.sessions, c.sessions);
        EXPECT_DOUBLE_EQ(f.logged, c.logged);
        EXPECT_DOUBLE_EQ(f.running, c.running);
        EXPECT_DOUBLE_EQ(f.total(), c.logged + c.running);
        EXPECT_EQ(f.perTariff, c.perTariff);
        EXPECT_EQ(
            f.counts,
            (HallCounts{.connected = 7, .paid = 2, .game = 1, .waiting = 1, .free = 1, .closed = 1, .unloaded = 1}));
    }

    DaySummary summary(today);
    summary.add(logged(today, "X", "Night", 5));
    summary.advanceTo(today + 1); // midnight: the new day starts from zero
    EXPECT_EQ(summary.figures({}).sessions, 0u);
    EXPECT_EQ(summary.figures({}).logged, 0);
    // The server's own clock set back a day: today is the clock's day again.
    summary.advanceTo(today);
    summary.add(logged(today + Minute, "Y", "Night", 7));
    EXPECT_EQ(summary.figures({}).sessions, 1u);
    EXPECT_EQ(summary.figures({}).logged, 7);
}

TEST(DaySummary, TodayByTheHourWithTheRunningSessionsBusyUpToNow)
{
    const double noon = at(12, 0, 0);
    DaySummary summary(noon);
    summary.add(logged(noon, "X", "Night", 5));               // busy 11:45:36..12:00 (0.01 days)
    summary.add(logged(noon + Minute, "X", "Night", 5));      // its repeat: nothing more
    summary.add(logged(noon - 1 + Minute, "Y", "Night", 50)); // yesterday
    StationRow running = row("P", "Standard", "30,00");
    running[ColStart] = "11:50:00";
    const SummaryFigures f = summary.figures({StationRow{}, running, StationRow{}}, at(13, 5, 0));
    EXPECT_DOUBLE_EQ(f.hourly.takings[12], 5);
    EXPECT_DOUBLE_EQ(f.hourly.takings[11], 0);
    EXPECT_EQ(f.hourly.busy[10], 0);
    EXPECT_EQ(f.hourly.busy[11], 2); // the logged session and the running one at 11:50
    EXPECT_EQ(f.hourly.busy[12], 1);
    EXPECT_EQ(f.hourly.busy[13], 1);
    EXPECT_EQ(f.hourly.busy[14], 0);
    EXPECT_EQ(summary.figures({StationRow{}, running, StationRow{}}).hourly.busy[13], 0); // no now: logged only
}

bool waitUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// The log is read once, then followed: what is appended before, during and after the reading
// counts exactly once.
TEST(LiveSummary, ReadsTheLogOnceAndFollowsItsAppends)
{
    testing::StationsTempDir dir;
    HistoryTable history;
    double now = at(12, 0, 0);
    SessionLog log(dir.file("Ostrel.log"), history, [&] { return now; });
    StationRow done = row("A", "Standard", "10,00");
    done[ColStart] = "10:00:00";
    done[ColElapsed] = "0:05:00";
    done[ColFinish] = "10:05:00";
    {
        std::scoped_lock hold(StationTableMutex);
        now = at(12, 0, 0) - 1; // yesterday
        ASSERT_EQ(log.LogSession(done, "Ok"), LogResult::Appended);
        now = at(12, 0, 0);
        done[ColComputer] = "B";
        ASSERT_EQ(log.LogSession(done, "Ok"), LogResult::Appended);
    }

    std::atomic<int> wakes{0};
    {
        LiveSummary summary(log, [&] { return at(12, 30, 0); });
        summary.setWake([&] { ++wakes; });
        summary.start();
        summary.start(); // read at most once
        {
            std::scoped_lock hold(StationTableMutex);
            done[ColComputer] = "C";
            ASSERT_EQ(log.LogSession(done, "Reset"), LogResult::Appended); // maybe during the reading
        }
        ASSERT_TRUE(waitUntil([&] { return summary.loaded().has_value(); }));
        EXPECT_EQ(*summary.loaded(), LogScanStatus::Complete);
        {
            std::scoped_lock hold(StationTableMutex);
            done[ColComputer] = "D";
            ASSERT_EQ(log.LogSession(done, "Ok"), LogResult::Appended);
        }
        const SummaryFigures f = summary.figures({});
        EXPECT_EQ(f.sessions, 3u); // B, C, D; A was yesterday
        EXPECT_DOUBLE_EQ(f.logged, 30);
        EXPECT_LE(summary.recordsRead(), 3u);
        EXPECT_GE(wakes.load(), 2);
    }
    // The summary is gone from the log's followers: a later append reaches nobody.
    std::scoped_lock hold(StationTableMutex);
    EXPECT_EQ(log.LogSession(done, "Ok"), LogResult::Appended);
}

} // namespace
} // namespace ostrel
