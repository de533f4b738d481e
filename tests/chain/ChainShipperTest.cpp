#include "chain/ChainShipper.h"
#include "ChainTestData.h"
#include "PgServer.h"
#include "chain/ChainReport.h"
#include "core/Texts.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "report/WorkReportBuilder.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <random>

using namespace ostrel;
using namespace ostrel::chaintest;

namespace {

class Chain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const std::string why = PgServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(folder.ok());
        pg = std::make_unique<PgServer>();
        ASSERT_TRUE(pg->ready()) << pg->failure();
        // The server reads the salon's files as the `postgres` user never needs to: only the
        // shipper, running as the test, does.
    }

    std::string path(std::string_view name) const { return folder.file(name); }
    ChainSources sources(const ostrel::testing::TempFolder& in) const
    {
        return {in.file("Ostrel.log"), in.file("Ostrel.audit.csv"), in.file("Ostrel.cash.csv"), {}, {}, {}};
    }
    long long rows(std::string_view table, std::string_view salon = "") const
    {
        std::string sql = "SELECT count(*) FROM " + std::string(table);
        if (!salon.empty())
            sql += " WHERE salon = '" + std::string(salon) + "'";
        return pg->number(sql);
    }
    // Every position once: as many rows as distinct keys, and as many as the file has.
    void expectEachOnce(long long records, std::string_view salon = "Центр") const
    {
        const std::string where = " FROM ostrel_sessions WHERE salon = '" + std::string(salon) + "'";
        EXPECT_EQ(pg->number("SELECT count(*)" + where), records);
        EXPECT_EQ(pg->number("SELECT count(DISTINCT log_offset)" + where), records);
        EXPECT_EQ(pg->number("SELECT coalesce(max(log_offset), -168) / 168 + 1" + where), records);
    }

    ostrel::testing::TempFolder folder;
    std::unique_ptr<PgServer> pg;
};

const double Day = *encodeDate(2026, 3, 2);

TEST_F(Chain, ShipsEveryFileOnceAndGoesOnFromWhatTheDatabaseHolds)
{
    const auto sessions = salonSessions(Day, 500);
    appendRecords(path("Ostrel.log"), sessions);
    std::string audit = auditHeaderLine();
    for (int i = 0; i < 3; ++i)
        audit += auditLine(
            {Day + 0.5 + i / 1440.0, "PC-1", "10.0.0.2", "Старт", "\xD7\xE0\xF1", 30.0, 60, AuditResult::Sent}, "oper");
    folder.write("Ostrel.audit.csv", audit + "12.03.2026 1"); // a last line still being written
    CashUp shift{Day + 0.9, Day, Day + 0.9, 431, 1'234'550, 1'234'500, "нехватка; \"мелочь\"", ""};
    folder.write("Ostrel.cash.csv", cashHeaderLine() + cashLine(shift, "oper"));
    {
        ChainShipper shipper({pg->conninfo(), "Центр"}, sources(folder), fastTiming(64));
        shipper.start();
        ASSERT_TRUE(waitUntil([&] { return shipper.status().shipped == 504 && shipper.status().waiting == 0; }))
            << shipper.status().lastError;
    }
    expectEachOnce(500);
    EXPECT_EQ(rows("ostrel_commands"), 3);
    EXPECT_EQ(rows("ostrel_cash"), 1);

    // The repeats are those the work report leaves out of its totals.
    const WorkReportResult report = buildWorkReport(path("Ostrel.log"), Day, Day, 500 * SessionLogRecordSize);
    ASSERT_FALSE(report.repeats.empty());
    std::vector<std::uint64_t> repeated;
    for (const auto& row : pg->query("SELECT log_offset / 168 FROM ostrel_sessions WHERE repeated ORDER BY 1"))
        repeated.push_back(std::stoull(row[0]));
    EXPECT_EQ(repeated, report.repeats);

    // A row as the log has it, and the trail's and the book's fields.
    const SessionLogRecord& r = sessions[3];
    const auto row = pg->query("SELECT closed_at, computer, address, tariff, price, started, duration, finished, sum, "
                               "comment FROM ostrel_sessions WHERE log_offset = 504")[0];
    EXPECT_EQ(row, (std::vector<std::string>{"2026-03-02 09:04:00", r.computer, r.address, "Час", "30.00", "08:34:00",
                                             "00:33:00", "09:04:00", *sqlMoney(r.sum), "Ok"}));
    EXPECT_EQ(pg->query("SELECT line_number, operator, command, tariff, result FROM ostrel_commands ORDER BY 1")[2],
              (std::vector<std::string>{"4", "oper", "Старт", "Час", "отправлена"}));
    EXPECT_EQ(pg->query("SELECT line_number, sessions, computed, counted, difference, comment FROM ostrel_cash")[0],
              (std::vector<std::string>{"2", "431", "12345.50", "12345.00", "-0.50", "нехватка; \"мелочь\""}));

    // A new run asks the database and sends only what is new; the line being written is ended now.
    appendRecords(path("Ostrel.log"), salonSessions(Day + 1, 20));
    std::ofstream(path("Ostrel.audit.csv"), std::ios::app) << "\r\n";
    {
        ChainShipper shipper({pg->conninfo(), "Центр"}, sources(folder), fastTiming(64));
        shipper.start();
        ASSERT_TRUE(waitUntil([&] { return shipper.status().shipped == 525; })) << shipper.status().lastError;
    }
    expectEachOnce(520);
    EXPECT_EQ(pg->number("SELECT count(*) FROM ostrel_commands WHERE damaged IS NOT NULL"), 1);
}

TEST_F(Chain, AnOutageHoldsTheRecordsUntilTheDatabaseIsBack)
{
    appendRecords(path("Ostrel.log"), salonSessions(Day, 100));
    ChainShipper shipper({pg->conninfo(), "Центр"}, sources(folder), fastTiming(30));
    shipper.start();
    ASSERT_TRUE(waitUntil([&] { return shipper.status().shipped == 100; })) << shipper.status().lastError;

    pg->stop();
    appendRecords(path("Ostrel.log"), salonSessions(Day + 1, 50));
    ASSERT_TRUE(waitUntil([&] { return shipper.status().awaySince.has_value(); }));
    EXPECT_FALSE(shipper.status().connected);
    EXPECT_EQ(shipper.status().shipped, 100u);

    ASSERT_TRUE(pg->start()) << pg->failure();
    ASSERT_TRUE(waitUntil([&] { return shipper.status().shipped == 150 && shipper.status().connected; }))
        << shipper.status().lastError;
    EXPECT_EQ(shipper.status().waiting, 0u);
    EXPECT_FALSE(shipper.status().awaySince);
    expectEachOnce(150);
}

#ifdef OSTREL_CHAIN_SHIP
TEST_F(Chain, KillsOfTheShipperAndOfTheDatabaseMidBatchLoseAndDoubleNothing)
{
    constexpr int Records = 150'000;
    appendRecords(path("Ostrel.log"), salonSessions(Day, Records));
    const std::vector<std::string> argv{OSTREL_CHAIN_SHIP, pg->conninfo(), "Центр", folder.path().string(), "4000"};
    std::mt19937 random(26);
    for (int round = 0; round < 3; ++round) {
        proctest::ChildProcess child(argv, path("ship.out"), path("ship.err"));
        ASSERT_TRUE(child.started());
        const long long before = rows("ostrel_sessions");
        ASSERT_TRUE(waitUntil([&] { return rows("ostrel_sessions") > before; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(5, 60)(random)));
        child.kill(SIGKILL);
    }
    {
        // The database itself crashes under a batch, and comes back.
        proctest::ChildProcess child(argv, path("ship.out"), path("ship.err"));
        const long long before = rows("ostrel_sessions");
        ASSERT_TRUE(waitUntil([&] { return rows("ostrel_sessions") > before; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pg->stop("immediate");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(pg->start()) << pg->failure();
        ASSERT_TRUE(waitUntil([&] { return rows("ostrel_sessions") == Records; }, std::chrono::seconds(120)))
            << rows("ostrel_sessions") << " rows; " << proctest::readWholeFile(path("ship.err"));
    }
    expectEachOnce(Records);
    // The money to the kopeck, as the work report totals it.
    const WorkReportResult report = buildWorkReport(path("Ostrel.log"), Day, Day + 400, Records * SessionLogRecordSize);
    EXPECT_EQ(pg->number("SELECT sum(round(sum * 100)) FROM ostrel_sessions WHERE NOT repeated"),
              *toKopecks(report.moneyTotal));
    EXPECT_EQ(pg->number("SELECT count(*) FROM ostrel_sessions WHERE repeated"),
              static_cast<long long>(report.repeats.size()));
}
#endif

TEST_F(Chain, ARowThereWithOtherContentsStopsTheShippingAndStaysAsItWas)
{
    ostrel::testing::TempFolder other;
    appendRecords(path("Ostrel.log"), salonSessions(Day, 10));
    appendRecords(other.file("Ostrel.log"), salonSessions(Day, 12, 5)); // another salon's log, same name
    {
        ChainShipper first({pg->conninfo(), "Центр"}, sources(folder), fastTiming());
        first.start();
        ASSERT_TRUE(waitUntil([&] { return first.status().shipped == 10; })) << first.status().lastError;
    }
    const auto before = pg->query("SELECT * FROM ostrel_sessions ORDER BY log_offset");

    ChainShipper second({pg->conninfo(), "Центр"}, sources(other), fastTiming());
    second.start();
    ASSERT_TRUE(waitUntil([&] { return second.status().stopped.has_value(); })) << second.status().lastError;
    // The newest row the database holds, sent again, is where the two differ.
    EXPECT_NE(second.status().stopped->find("«Центр»"), std::string::npos) << *second.status().stopped;
    EXPECT_NE(second.status().stopped->find("Ostrel.log на месте 1512"), std::string::npos) << *second.status().stopped;
    EXPECT_EQ(pg->query("SELECT * FROM ostrel_sessions ORDER BY log_offset"), before);

    // The same file sent again is no conflict: a second shipper of the salon finds its rows as they are.
    ChainShipper again({pg->conninfo(), "Центр"}, sources(folder), fastTiming());
    again.start();
    ASSERT_TRUE(waitUntil([&] { return again.status().connected && again.status().shipped == 10; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(again.status().stopped);
}

TEST_F(Chain, TheChainReportIsEachSalonsWorkReportToTheKopeck)
{
    ostrel::testing::TempFolder north;
    for (int d = 0; d < 3; ++d) {
        appendRecords(path("Ostrel.log"), salonSessions(Day + d, 300 + d * 11, d));
        appendRecords(north.file("Ostrel.log"), salonSessions(Day + d, 250 + d * 7, 40 + d));
    }
    {
        ChainShipper a({pg->conninfo(), "Центр"}, sources(folder), fastTiming());
        ChainShipper b({pg->conninfo(), "Север"}, sources(north), fastTiming());
        a.start();
        b.start();
        ASSERT_TRUE(waitUntil([&] { return a.status().shipped == 933 && b.status().shipped == 771; }));
    }
    struct Period
    {
        double from, to;
    };
    for (const Period p : {Period{Day + 1, Day + 1}, Period{Day, Day + 2}, Period{Day + 5, Day + 6}}) {
        const ChainReport chain = readChainReport(pg->conninfo(), p.from, p.to);
        ASSERT_FALSE(chain.error) << *chain.error;
        ChainSalonTotals sum;
        for (const auto& [salon, dir] : {std::pair{"Север", north.path()}, std::pair{"Центр", folder.path()}}) {
            const std::string log = (dir / "Ostrel.log").string();
            const WorkReportResult report =
                buildWorkReport(log, p.from, p.to, std::filesystem::file_size(log) / 168 * 168);
            const std::uint64_t sessions = report.listed.size() - report.repeats.size();
            const auto it = std::ranges::find(chain.salons, std::string(salon), &ChainSalonTotals::salon);
            if (sessions == 0) {
                EXPECT_EQ(it, chain.salons.end());
                continue;
            }
            ASSERT_NE(it, chain.salons.end()) << salon;
            EXPECT_EQ(it->sessions, sessions) << salon;
            EXPECT_EQ(it->repeats, report.repeats.size()) << salon;
            EXPECT_EQ(it->kopecks, *toKopecks(report.moneyTotal)) << salon;
            EXPECT_EQ(splitTimeTotal(it->milliseconds / 86'400'000.0), report.time) << salon;
            sum.sessions += it->sessions;
            sum.kopecks += it->kopecks;
        }
        EXPECT_EQ(chain.total.sessions, sum.sessions);
        EXPECT_EQ(chain.total.kopecks, sum.kopecks);
    }

#ifdef OSTREL_LOG_TOOL
    const auto run = proctest::runCommand(std::string(OSTREL_LOG_TOOL) + " chain --database '" + pg->conninfo() +
                                          "' --from 03.03.2026 --to 03.03.2026 --csv");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const ChainReport chain = readChainReport(pg->conninfo(), Day + 1, Day + 1);
    EXPECT_EQ(run.output, chain.csv());
    EXPECT_NE(run.output.find("Итого;"), std::string::npos);
    const auto down = proctest::runCommand(std::string(OSTREL_LOG_TOOL) +
                                           " chain --database 'host=/nonexistent' --from 03.03.2026 --to 01.03.2026");
    EXPECT_EQ(down.exitCode, 2) << down.output;
#endif
}

} // namespace
