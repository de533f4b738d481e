#include "report/CashShift.h"
#include "report/WorkReportBuilder.h"

#include "core/Texts.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "WorkReportTestLog.h"

// The cash shift: the span since the last cash-up, read by the work report's rules.

using namespace ostrel;
using namespace ostrel::reporttest;

namespace {

// A cash book whose cash-ups were handed over at these moments, the last one cut short when asked.
std::string cashBookOf(const std::vector<double>& handedOver, bool lastCutShort = false)
{
    std::string text = cashHeaderLine();
    for (std::size_t i = 0; i < handedOver.size(); ++i) {
        CashUp c;
        c.at = c.until = handedOver[i];
        c.from = handedOver[i] - 0.5;
        std::string line = cashLine(c, "op");
        if (lastCutShort && i + 1 == handedOver.size())
            line.resize(line.size() / 2);
        text += line;
    }
    return text;
}

} // namespace

TEST(CashShift, SpanAndSumFollowTheWorkReportsRules)
{
    const double d = day(8, 12, 2026);
    const auto at = [d](int h, int m, int s) { return d + hms(h, m, s); };
    SessionLogRecord ok = session(at(12, 0, 0), 100);
    SessionLogRecord reset = ok;
    reset.closedAt = at(12, 0, 40);
    reset.comment = "Reset";
    SessionLogRecord early = session(at(10, 30, 0), 7);
    SessionLogRecord earlyReset = early;
    earlyReset.closedAt = at(11, 0, 20);
    const double until = at(13, 0, 0); // every shift here is read at 13:00
    struct Case
    {
        const char* name;
        std::vector<SessionLogRecord> records;
        std::string book; // empty: no cash book yet
        double from;
        std::uint64_t sessions;
        std::int64_t kopecks;
        std::size_t listed;
    };
    const Case cases[] = {
        {"no cash-up: from the log's first record",
         {session(at(10, 0, 0), 100), session(at(12, 0, 0), 50)},
         "",
         at(10, 0, 0),
         2,
         15'000,
         2},
        {"from the newest cash-up",
         {session(at(10, 0, 0), 100), session(at(12, 0, 0), 50)},
         cashBookOf({at(9, 0, 0), at(11, 0, 0)}),
         at(11, 0, 0),
         1,
         5'000,
         1},
        {"a session closed at the hand-over belongs to the new shift",
         {session(at(11, 0, 0), 30)},
         cashBookOf({at(11, 0, 0)}),
         at(11, 0, 0),
         1,
         3'000,
         1},
        {"a session closed at the end belongs to the next shift",
         {session(at(12, 0, 0), 30), session(until, 40)},
         cashBookOf({at(11, 0, 0)}),
         at(11, 0, 0),
         1,
         3'000,
         1},
        {"a repeat is listed, not counted", {ok, reset}, cashBookOf({at(11, 0, 0)}), at(11, 0, 0), 1, 10'000, 2},
        {"the repeat of a session of the shift before counts nothing",
         {early, earlyReset},
         cashBookOf({at(11, 0, 0)}),
         at(11, 0, 0),
         0,
         0,
         1},
        {"a cash-up cut short is skipped",
         {session(at(10, 0, 0), 100), session(at(12, 0, 0), 50)},
         cashBookOf({at(9, 0, 0), at(11, 0, 0)}, true),
         at(9, 0, 0),
         2,
         15'000,
         2},
        {"to the kopeck",
         {session(at(10, 0, 0), 12'345.67), session(at(10, 5, 0), 0.1), session(at(10, 6, 0), 0.2)},
         "",
         at(10, 0, 0),
         3,
         1'234'597,
         3},
        {"no log: an empty shift", {}, "", until, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogFile log;
        for (const auto& r : c.records)
            log.add(r);
        log.write();
        const std::string cashPath = log.path() + ".cash.csv";
        std::filesystem::remove(cashPath);
        if (!c.book.empty())
            std::ofstream(cashPath, std::ios::binary) << c.book;
        const auto length = c.records.empty() ? std::nullopt : std::optional<std::uint64_t>(log.length());
        const ShiftReading shift = readShift(log.path(), cashPath, until, length);
        std::filesystem::remove(cashPath);
        EXPECT_DOUBLE_EQ(shift.from, c.from);
        EXPECT_EQ(shift.sinceLogStart, c.book.empty());
        EXPECT_EQ(shift.sessions, c.sessions);
        EXPECT_EQ(shift.computed, c.kopecks);
        EXPECT_EQ(shift.report.listed.size(), c.listed);
        EXPECT_TRUE(shift.usable());
        // The work report over the same span says the same.
        const auto report = buildWorkReportSpan(log.path(), c.from, until, length);
        EXPECT_EQ(toKopecks(report.moneyTotal), shift.computed);
        // The charts of the span take the same sessions: their hours add up to the total.
        double hours = 0;
        for (const double t : shift.report.hourly.figures().takings)
            hours += t;
        EXPECT_EQ(toKopecks(hours), shift.computed);
    }
}

TEST(CashShift, AWholeDayShiftTotalsAsTheDaysWorkReport)
{
    LogFile log;
    for (int i = 0; i < 300; ++i)
        log.add(session(day(7, 12, 2026) + i * 0.01, 10.35 + i));
    log.write();
    const double from = day(8, 12, 2026);
    const ShiftReading shift = readShift(log.path(), log.path() + ".none", from + 1.0, log.length());
    EXPECT_EQ(shift.from, day(7, 12, 2026)); // no cash-up: the first record
    const auto report = buildWorkReportSpan(log.path(), from, from + 1.0, log.length());
    const auto days = buildWorkReport(log.path(), from, from, log.length());
    EXPECT_EQ(report.listed, days.listed);
    EXPECT_EQ(report.moneyTotal, days.moneyTotal);
}

TEST(CashShift, RunningSessionsAreTheRowsWithASum)
{
    std::vector<StationRow> rows(4);
    rows[1][ColComputer] = "A";
    rows[1][ColSum] = "12,50";
    rows[2][ColComputer] = "B"; // free: no sum
    rows[3][ColSum] = "99,00";  // the blank last row
    const RunningTakings running = runningTakings(rows);
    EXPECT_EQ(running.sessions, 1);
    EXPECT_EQ(running.kopecks, 1250);
}
