#include "report/WorkReportBuilder.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"
#include "report/CashShift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "WorkReportTestLog.h"

using namespace ostrel;
using namespace ostrel::reporttest;

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

const std::string ZeroTotals = "Итог:    Сумма: 0,00\tВремя: 0:0:0";

} // namespace

TEST(WorkReportBuilder, ListsSessionsAsTabSeparatedLines)
{
    LogFile log;
    SessionLogRecord r = session(day(15, 5, 2024) + hms(10, 5, 30), 1234.567, hms(1, 0, 0));
    r.price = 150;
    const auto report = log.add(r).report(day(15, 5, 2024), day(15, 5, 2024));
    ASSERT_EQ(report.outcome, WorkReportResult::Outcome::Listed);
    const auto l = lines(report.text);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Время\tКомпьютер\tАдрес\tСтатус\tЦена\tНачало\tВремя\tКонец\tСумма\tКоментарий");
    EXPECT_EQ(l[1], "15.05.2024 10:05:30\tКомп 1\t192.168.0.11\tЧас\t150,00\t9:05:00\t1:00:00\t10:05:00\t1234,60\tOk");
    EXPECT_EQ(l[2], "Итог:    Сумма: 1234,60\tВремя: 1:0:0");
    EXPECT_EQ(report.moneyText, "1234,60");
    EXPECT_EQ(report.time.text(), "1:0:0");
    EXPECT_EQ(report.listed, std::vector<std::uint64_t>{0});
}

TEST(WorkReportBuilder, PeriodBoundsAndStopAtTheFirstSessionPastIt)
{
    LogFile log;
    log.add(session(day(9, 5, 2024) + hms(23, 59, 59), 50)) // before: skipped
        .add(session(day(10, 5, 2024)))                     // exactly DateBeg 00:00: listed
        .add(session(day(12, 5, 2024) + hms(23, 59, 59)))   // last second of DateEnd: listed
        .add(session(day(13, 5, 2024)))                     // the day after DateEnd: ends the reading
        .add(session(day(11, 5, 2024)));                    // inside, but after the stop
    const auto report = log.report(day(10, 5, 2024), day(12, 5, 2024));
    EXPECT_EQ(report.outcome, WorkReportResult::Outcome::Listed);
    EXPECT_EQ(report.listed, (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(report.recordsRead, 4u);
    const auto l = lines(report.text);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[1].substr(0, 11), "10.05.2024\t"); // midnight: the time is left out
    EXPECT_EQ(l[3], "Итог:    Сумма: 200,00\tВремя: 2:0:0");
}

TEST(WorkReportBuilder, EmptyReports)
{
    LogFile inverted;
    inverted.add(session(day(10, 5, 2024) + 0.5));
    const auto a = inverted.report(day(12, 5, 2024), day(10, 5, 2024));
    EXPECT_EQ(lines(a.text), (std::vector<std::string>{std::string(workReportHeader()), ZeroTotals}));
    EXPECT_EQ(a.outcome, WorkReportResult::Outcome::Listed);

    LogFile empty;
    const auto b = empty.report(day(1, 1, 2024), day(31, 12, 2024));
    EXPECT_EQ(lines(b.text), (std::vector<std::string>{std::string(workReportHeader()), ZeroTotals}));
    EXPECT_FALSE(b.logMissing);

    LogFile missing; // never written
    const auto c = buildWorkReport(missing.path(), day(1, 1, 2024), day(31, 12, 2024), std::nullopt);
    EXPECT_TRUE(c.logMissing);
    EXPECT_EQ(c.outcome, WorkReportResult::Outcome::Listed);
    EXPECT_EQ(lines(c.text), (std::vector<std::string>{std::string(workReportHeader()), ZeroTotals}));
    EXPECT_EQ(c.moneyText, "0,00");
    EXPECT_FALSE(std::filesystem::exists(missing.path())); // a report only reads

    const auto d = buildWorkReport(missing.path(), day(1, 1, 2024), day(31, 12, 2024), 0);
    EXPECT_TRUE(d.logMissing);
}

TEST(WorkReportBuilder, DamageKeepsTheLinesGatheredBeforeIt)
{
    const double beg = day(1, 5, 2024);
    const double end = day(31, 5, 2024);
    const double inside = day(10, 5, 2024) + 0.5;
    struct Case
    {
        const char* name;
        SessionLogRecord bad;
    };
    SessionLogRecord nanDate = session(std::numeric_limits<double>::quiet_NaN());
    SessionLogRecord infDate = session(std::numeric_limits<double>::infinity());
    SessionLogRecord hugeDate = session(1e300);
    SessionLogRecord nanSum = session(inside, std::numeric_limits<double>::quiet_NaN());
    SessionLogRecord badTime = session(inside, 10, 1e300);
    for (const auto& [name, bad] :
         {Case{"NaN ClosedAt", nanDate}, Case{"infinite ClosedAt", infDate}, Case{"ClosedAt past 9999", hugeDate},
          Case{"NaN sum", nanSum}, Case{"duration without a time text", badTime}}) {
        SCOPED_TRACE(name);
        LogFile log;
        log.add(session(inside, 10)).add(bad).add(session(inside, 20));
        const auto report = log.report(beg, end);
        EXPECT_TRUE(report.damaged());
        EXPECT_EQ(report.listed, std::vector<std::uint64_t>{0});
        const auto l = lines(report.text);
        ASSERT_EQ(l.size(), 3u);
        EXPECT_EQ(l[2], "Итог:    Сумма: 10,00\tВремя: 1:0:0");
    }

    LogFile overlong; // a length byte beyond its field: the server never writes one
    auto bytes = encodeLogRecord(session(inside));
    bytes[57] = 31 ^ LogScrambleMask;
    overlong.add(session(inside)).addRaw({bytes.begin(), bytes.end()});
    EXPECT_TRUE(overlong.report(beg, end).damaged());
}

TEST(WorkReportBuilder, TrailingFragmentIsDamageOnlyWhenReached)
{
    const double inside = day(10, 5, 2024) + 0.5;
    LogFile log;
    log.add(session(inside, 120))
        .add(session(inside, 80))
        .add(session(day(20, 5, 2024)))
        .addRaw(std::vector<std::uint8_t>(160));
    const auto reached = log.report(day(1, 5, 2024), day(31, 5, 2024));
    EXPECT_TRUE(reached.damaged());
    EXPECT_EQ(reached.listed.size(), 3u);
    EXPECT_EQ(lines(reached.text).back(), "Итог:    Сумма: 300,00\tВремя: 3:0:0");

    const auto stopped = log.report(day(1, 5, 2024), day(15, 5, 2024));
    EXPECT_FALSE(stopped.damaged());
    EXPECT_EQ(stopped.listed.size(), 2u);

    // The length the last append left decides: bytes past it are an append under way, not damage.
    const auto stable = buildWorkReport(log.path(), day(1, 5, 2024), day(31, 5, 2024), 3 * SessionLogRecordSize);
    EXPECT_FALSE(stable.damaged());
    EXPECT_EQ(stable.listed.size(), 3u);
    const auto cut = buildWorkReport(log.path(), day(1, 5, 2024), day(31, 5, 2024), 3 * SessionLogRecordSize - 8);
    EXPECT_TRUE(cut.damaged());
    EXPECT_EQ(cut.listed.size(), 2u);
}

TEST(WorkReportBuilder, TimeTotals)
{
    LogFile log;
    const double t = day(10, 5, 2024) + 0.5;
    // 1 day 2 h 3 min 4 s in sessions of at most a day's worth of time each.
    log.add(session(t, 1, hms(23, 59, 59))).add(session(t, 2, hms(2, 3, 5)));
    EXPECT_EQ(log.report(day(10, 5, 2024), day(10, 5, 2024)).time.text(), "26:3:4");

    EXPECT_EQ(splitTimeTotal(0.5).text(), "12:0:0");
    EXPECT_EQ(splitTimeTotal(1 + hms(2, 3, 4)).text(), "26:3:4");
    EXPECT_EQ(splitTimeTotal(hms(0, 0, 59) + 0.9 / 86400).text(), "0:0:59"); // never rounded up
    EXPECT_EQ(splitTimeTotal(2730 + 15.0 / 24).text(), "65535:0:0");
    EXPECT_EQ(splitTimeTotal(2731.0 + hms(0, 0, 1)).text(), "8:0:1"); // 65544 h held in 16 bits
    EXPECT_EQ(splitTimeTotal(std::numeric_limits<double>::quiet_NaN()).text(), "0:0:0");
    EXPECT_EQ(splitTimeTotal(1e300).text(), "0:0:0");

    double sum = 0; // a thousand one-second sessions add up to exactly 16:40
    for (int i = 0; i < 1000; ++i)
        sum += hms(0, 1, 0);
    EXPECT_EQ(splitTimeTotal(sum).text(), "16:40:0");
}

TEST(WorkReportBuilder, MoneyForms)
{
    const double t = day(10, 5, 2024) + 0.5;
    struct Case
    {
        double sum;
        const char* text;
    };
    for (const Case c :
         {Case{150, "150,00"}, Case{9999.99, "10000,00"}, Case{99999.4, "99999,00"}, Case{99999.5, "1E5"},
          Case{123456.78, "1,2346E5"}, Case{2.5, "2,50"}, Case{1234.25, "1234,30"}}) { // a tie goes up
        LogFile log;
        const auto report = log.add(session(t, c.sum)).report(day(10, 5, 2024), day(10, 5, 2024));
        EXPECT_EQ(report.moneyText, c.text);
        EXPECT_NE(lines(report.text)[1].find(std::string("\t") + c.text + "\tOk"), std::string::npos) << c.text;
    }
}

TEST(WorkReportBuilder, RepeatedRecordIsListedButCountedOnce)
{
    // A session ends "Ok" at 10:05 on 10.05; its station drops and the same session is logged again.
    const double closed = day(10, 5, 2024) + hms(10, 5, 0);
    const SessionLogRecord ok = session(closed, 100);
    auto again = [&](auto change) {
        SessionLogRecord r = ok;
        r.closedAt = closed + hms(0, 0, 40);
        r.comment = "Reset";
        change(r);
        return r;
    };
    auto same = [](SessionLogRecord&) {};
    auto other = [](const char* computer, double closedAt, double sum) {
        SessionLogRecord r = session(closedAt, sum);
        r.computer = computer;
        return r;
    };
    struct Case
    {
        const char* name;
        std::vector<SessionLogRecord> records;
        double beg;
        std::vector<std::uint64_t> repeats;
        const char* totals;
    };
    const double may10 = day(10, 5, 2024);
    const Case cases[] = {
        {"repeat", {ok, again(same)}, may10, {1}, "Сумма: 100,00\tВремя: 1:0:0"},
        {"another station between",
         {ok, other("B", closed, 7), again(same)},
         may10,
         {2},
         "Сумма: 107,00\tВремя: 2:0:0"},
        {"twice repeated", {ok, again(same), again(same)}, may10, {1, 2}, "Сумма: 100,00\tВремя: 1:0:0"},
        {"other sum", {ok, again([](auto& r) { r.sum = 101; })}, may10, {}, "Сумма: 201,00\tВремя: 2:0:0"},
        {"other price", {ok, again([](auto& r) { r.price = 61; })}, may10, {}, "Сумма: 200,00\tВремя: 2:0:0"},
        {"other start",
         {ok, again([](auto& r) { r.start += hms(0, 0, 1); })},
         may10,
         {},
         "Сумма: 200,00\tВремя: 2:0:0"},
        {"other finish",
         {ok, again([](auto& r) { r.finish += hms(0, 0, 1); })},
         may10,
         {},
         "Сумма: 200,00\tВремя: 2:0:0"},
        {"other address",
         {ok, again([](auto& r) { r.address = "192.168.0.12"; })},
         may10,
         {},
         "Сумма: 200,00\tВремя: 2:0:0"},
        {"other computer", {ok, again([](auto& r) { r.computer = "B"; })}, may10, {}, "Сумма: 200,00\tВремя: 2:0:0"},
        // The clock was set back between the two: the second is no repeat of a later record.
        {"closed earlier than the first",
         {ok, again([&](auto& r) { r.closedAt = closed - hms(0, 0, 40); })},
         may10,
         {},
         "Сумма: 200,00\tВремя: 2:0:0"},
        {"a day later",
         {ok, again([&](auto& r) { r.closedAt = closed + 1.0; })},
         may10,
         {},
         "Сумма: 200,00\tВремя: 2:0:0"},
        {"not its previous record",
         {ok, other("\xCA\xEE\xEC\xEF 1", closed, 5), again(same)},
         may10,
         {},
         "Сумма: 205,00\tВремя: 3:0:0"},
        // The original closed before the period: it counts in its own period, and its repeat in none.
        {"original before the period", {ok, again(same)}, closed + hms(0, 0, 20), {1}, "Сумма: 0,00\tВремя: 0:0:0"},
        {"original long before the period",
         {ok, again([&](auto& r) { r.closedAt = closed + 1.5; })},
         closed + 1.2,
         {},
         "Сумма: 100,00\tВремя: 1:0:0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogFile log;
        for (const SessionLogRecord& r : c.records)
            log.add(r);
        const auto report = log.report(c.beg, day(20, 5, 2024));
        ASSERT_EQ(report.outcome, WorkReportResult::Outcome::Listed);
        EXPECT_EQ(report.repeats, c.repeats);
        const auto l = lines(report.text);
        const std::size_t listed = report.listed.size();
        ASSERT_EQ(l.size(), listed + (c.repeats.empty() ? 2 : 3)); // every record is still listed
        EXPECT_EQ(l[listed + 1], std::string("Итог:    ") + c.totals);
        if (!c.repeats.empty()) {
            EXPECT_EQ(l.back(), "Повторных записей не учтено: " + std::to_string(c.repeats.size()));
        }
    }
}

TEST(WorkReportBuilder, TextGrowsWithThePeriodNotWithTheLog)
{
    LogFile log;
    for (int i = 0; i < 20'000; ++i)
        log.add(session(day(1, 1, 2024) + i * 0.01, i));
    const auto report = log.report(day(2, 1, 2024), day(2, 1, 2024));
    EXPECT_EQ(report.listed.size(), 100u);
    EXPECT_LT(report.text.capacity(), 64u * 1024); // a hundred lines, not a reserve for 20 000
}

TEST(WorkReportBuilder, UnreadableLogIsNoReport)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    LogFile log;
    log.add(session(day(10, 5, 2024)));
    std::filesystem::permissions(log.write(), std::filesystem::perms::none);
    const auto report = buildWorkReport(log.path(), day(1, 5, 2024), day(31, 5, 2024), log.length());
    EXPECT_EQ(report.outcome, WorkReportResult::Outcome::OpenFailed);
}
