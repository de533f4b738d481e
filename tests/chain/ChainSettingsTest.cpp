#include "chain/ChainSettings.h"
#include "chain/ChainSchema.h"
#include "chain/ChainShipper.h"
#include "chain/ChainStreams.h"
#include "chain/ChainTexts.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace ostrel;

namespace {

TEST(ChainSettings, StartUpRefusesWhatCannotWorkAndNamesTheKey)
{
    struct Case
    {
        const char* ini;
        const char* refusedFor; // nullptr: read
        const char* salon;
    } cases[] = {
        {"[Server]\nNet=0\n", nullptr, nullptr},      // no section: nothing shipped
        {"[Chain]\nSalon=Центр\n", nullptr, nullptr}, // no database either
        {"[Chain]\nDatabase=host=/run/pg dbname=chain\nSalon=Центр\n", nullptr, "Центр"},
        {"[Chain]\nDatabase=postgresql://ostrel@db.example/chain\nSalon= Север \n", nullptr, "Север"},
        {"[Chain]\nDatabase=host=/run/pg\n", "[Chain] Salon", nullptr},
        {"[Chain]\nDatabase=host=/run/pg\nSalon=  \n", "[Chain] Salon", nullptr},
        {"[Chain]\nDatabase=host='/run/pg\nSalon=Центр\n", "[Chain] Database", nullptr}, // unterminated quote
        {"[Chain]\nDatabase=colour=red\nSalon=Центр\n", "[Chain] Database", nullptr},    // no such keyword
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        const IniFile ini = IniFile::fromText(c.ini);
        if (c.refusedFor) {
            try {
                readChainSettings(ini);
                ADD_FAILURE() << "accepted";
            } catch (const ChainConfigError& e) {
                EXPECT_NE(std::string(e.what()).find(c.refusedFor), std::string::npos) << e.what();
            }
            continue;
        }
        const auto settings = readChainSettings(ini);
        ASSERT_EQ(settings.has_value(), c.salon != nullptr);
        if (settings) {
            EXPECT_EQ(settings->salon, c.salon);
        }
    }
}

TEST(ChainSchema, ValuesAreWrittenAsTheDatabaseReadsThemOrLeftNull)
{
    std::string text;
    appendCopyText(text, std::string("a\\b\tc\nd\re\0f", 12));
    EXPECT_EQ(text, "a\\\\b\\tc\\nd\\ref");
    text.clear();
    appendCopyText(text, "\xD7\xE0\xF1"); // not UTF-8: taken as Windows-1251
    EXPECT_EQ(text, "Час");

    const double day = 46'083.0; // 2026-03-02
    EXPECT_EQ(sqlTimestamp(day + 0.5), "2026-03-02 12:00:00.000");
    EXPECT_EQ(sqlTimestamp(day + 1 - 0.0004 / 86400), "2026-03-03 00:00:00.000"); // the millisecond rounds up
    EXPECT_EQ(sqlTimestamp(NAN), std::nullopt);
    EXPECT_EQ(sqlTimestamp(1e300), std::nullopt);
    EXPECT_EQ(sqlTimeOfDay(1.25), "06:00:00.000");
    EXPECT_EQ(sqlInterval(1.5), "129600.000 seconds");
    EXPECT_EQ(sqlInterval(-0.5 / 86400), "-0.500 seconds");
    EXPECT_EQ(sqlInterval(-1.5 / 86400), "-1.500 seconds");
    EXPECT_EQ(sqlInterval(2e9), std::nullopt);
    EXPECT_EQ(sqlMoney(2.675), "2.68"); // the amount, not the double a little below it
    EXPECT_EQ(sqlMoney(-0.5), "-0.50");
    EXPECT_EQ(sqlMoney(9'999'999'999.99), "9999999999.99");
    EXPECT_EQ(sqlMoney(10'000'000'000.0), std::nullopt); // beyond numeric(12,2)
    EXPECT_EQ(sqlMoney(INFINITY), std::nullopt);
}

TEST(ChainWatch, TheSummarySaysHowTheLinkIsAndTheTrayAlertsOncePerLongOutage)
{
    using namespace std::chrono_literals;
    struct Step
    {
        bool away;
        std::chrono::seconds awayFor;
        const char* line;
        bool alert;
    } steps[] = {
        {false, 0s, "Сеть салонов: передано 120, ждут 3", false},
        {true, 599s, "Сеть салонов: нет связи с базой (с 9:05:00)", false},
        {true, 600s, "Сеть салонов: нет связи с базой (с 9:05:00)", true}, // ten minutes: told once
        {true, 3600s, "Сеть салонов: нет связи с базой (с 9:05:00)", false},
        {false, 0s, "Сеть салонов: передано 120, ждут 3", false},
        {true, 700s, "Сеть салонов: нет связи с базой (с 9:05:00)", true}, // a new outage is told again
    };
    ChainWatch watch;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        ChainStatus status;
        status.shipped = 120;
        status.waiting = 3;
        if (step.away)
            status.awaySince = 46'083.0 + (9 * 60 + 5) / 1440.0;
        status.awayFor = step.awayFor;
        EXPECT_EQ(ChainWatch::summaryLine(status), step.line);
        EXPECT_EQ(watch.takeAlert(status).has_value(), step.alert);
    }
    ChainStatus stopped;
    stopped.stopped = chain::conflictText("Центр", "Ostrel.log", 1512);
    EXPECT_EQ(ChainWatch::summaryLine(stopped), *stopped.stopped);
}

} // namespace

// While the database is away the waits go 1 s, 2 s, 4 s … and stay at the minute once there.
TEST(ChainTiming, RetriesDoubleUpToAMinute)
{
    using std::chrono::milliseconds;
    const ChainTiming timing;
    const struct
    {
        milliseconds current;
        milliseconds next;
    } cases[] = {{timing.firstRetry, milliseconds(2000)},
                 {milliseconds(2000), milliseconds(4000)},
                 {milliseconds(32'000), milliseconds(60'000)},
                 {milliseconds(30'000), milliseconds(60'000)},
                 {milliseconds(60'000), milliseconds(60'000)}};
    EXPECT_EQ(timing.firstRetry, milliseconds(1000));
    for (const auto& c : cases)
        EXPECT_EQ(timing.nextRetry(c.current), c.next) << c.current.count();
}

// The audit trail is read only as far as it is durable: a line past that is left for a later read,
// and none is taken twice.
TEST(ChainStreams, AnAuditLinePastTheDurableLengthWaits)
{
    const ostrel::testing::TempFolder folder;
    const std::string header = "header\r\n";
    const std::string first = "09.12.2026 10:00:00;op;PC-01;127.0.0.2;Игра;Игра;30,00;45;отправлена\r\n";
    const std::string second = "09.12.2026 10:01:00;op;PC-02;127.0.0.3;Игра;Игра;30,00;45;отправлена\r\n";
    const std::string path = folder.write("Ostrel.audit.csv", header + first + second);
    std::uint64_t durable = 0;
    CsvStream audit(path, CsvStream::Kind::Audit, [&durable] { return std::optional<std::uint64_t>(durable); });
    const struct
    {
        std::size_t durable;
        std::uint64_t rows;
        std::uint64_t line; // the first row's
    } steps[] = {{0, 0, 0},
                 {header.size() + first.size() - 1, 0, 0}, // the first line without its end
                 {header.size() + first.size(), 1, 2},
                 {header.size() + first.size(), 0, 0},
                 {header.size() + first.size() + second.size(), 1, 3}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.durable);
        durable = step.durable;
        const ChainBatch batch = audit.read("Центр", 100);
        EXPECT_EQ(batch.count, step.rows);
        if (step.rows > 0) {
            EXPECT_EQ(batch.firstPosition, step.line);
        }
        audit.commit(batch);
    }
}
