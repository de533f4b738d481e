#include "stations/RunningSessions.h"

#include "commands/StationCommand.h"
#include "core/DateTime.h"
#include "core/StationTableMutex.h"
#include "core/Texts.h"
#include "log/SessionLogRecord.h"
#include "stations/ReportProcessor.h"
#include "support/LogTestData.h"
#include "support/StationsTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using namespace testing;

// The row a paid session at 10:00 shows after 30 minutes at 2 a minute.
StationRow paidRow(std::string computer, std::string address = "127.0.0.2")
{
    return {std::move(computer), std::move(address), "Standard", "2,00", "10:00:00",
            "0:30:00",           "10:30:00",         "",         "60,00"};
}

RunningSession paid(std::string computer, double lastReport = at(10, 30, 0))
{
    return {paidRow(std::move(computer)), lastReport};
}

std::string readText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<SessionLogRecord> logRecords(const std::string& path)
{
    const auto bytes = testing::readLogBytes(path);
    std::vector<SessionLogRecord> records;
    for (std::size_t i = 0; i + SessionLogRecordSize <= bytes.size(); i += SessionLogRecordSize)
        records.push_back(decodeLogRecord(
            std::span<const std::uint8_t, SessionLogRecordSize>(bytes.data() + i, SessionLogRecordSize)));
    return records;
}

TEST(RunningSessions, FileTextReadsBackAndADamagedOneIsFound)
{
    RunningSession odd = paid("A\tB\\C");
    odd.row[ColStatus] = "line\nbreak\x7F";
    const std::vector<RunningSession> sessions{paid("PC-01"), odd};
    const std::string text = formatRunningSessions(7, sessions);
    const auto back = parseRunningSessions(text);
    EXPECT_TRUE(back.whole);
    EXPECT_EQ(back.generation, 7u);
    EXPECT_EQ(back.sessions, sessions);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4); // one line each, whatever the cells hold

    const std::string header = "ostrel running sessions 7\n";
    const std::string line = text.substr(header.size(), text.find('\n', header.size()) + 1 - header.size());
    const struct
    {
        const char* name;
        std::string text;
        std::size_t sessions;
        std::vector<std::size_t> damaged;
    } cases[] = {
        {"cut before its end line", header + line, 1, {}},
        {"cut in a line", header + line + line.substr(0, 12), 1, {3}},
        {"end line of another count", header + line + "end 7 2\n", 1, {3}},
        {"end line of another generation", header + line + "end 6 1\n", 1, {3}},
        // The end line counts the lines read, so it no longer agrees either.
        {"a bad escape",
         header + "08.12.2026 10:30:00\tPC\\q" + line.substr(line.find('\t', 20)) + "end 7 1\n",
         0,
         {2, 3}},
        {"a cell missing", header + "08.12.2026 10:30:00\tPC-01\n" + "end 7 1\n", 0, {2, 3}},
        {"no header", line + "end 7 1\n", 0, {1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = parseRunningSessions(c.text);
        EXPECT_FALSE(parsed.whole);
        EXPECT_EQ(parsed.sessions.size(), c.sessions);
        EXPECT_EQ(parsed.damagedLines, c.damaged);
    }
}

class RunningSessionsFiles : public ::testing::Test
{
protected:
    void write(const std::string& name, const std::string& text) { std::ofstream(m_dir.file(name)) << text; }
    std::vector<std::string> waitingNames(const RunningSessions& running) const
    {
        std::vector<std::string> names;
        for (const auto& [session, seconds] : running.waiting())
            names.push_back(session.row[ColComputer]);
        return names;
    }

    testing::LogTempDir m_dir;
    std::string m_path = m_dir.file("Ostrel.running");
    std::string m_log = m_dir.file("Ostrel.log");
};

// The newer file written whole wins; a newer one cut short leaves the older; sessions the log
// closed after their last report (logged before the file was rewritten) are not settled again.
TEST_F(RunningSessionsFiles, ThePreviousRunsSessionsWaitLessThoseTheLogClosed)
{
    write("Ostrel.running", formatRunningSessions(5, {paid("A"), paid("B"), paid("C"), paid("D")}));
    write("Ostrel.running.2", formatRunningSessions(4, {paid("OLD")}));
    const auto record = [](std::string computer, double closedAt) {
        SessionLogRecord r;
        r.closedAt = closedAt;
        r.comment = "Ok";
        r.price = 2;
        r.sum = 60;
        r.start = encodeTime(10, 0, 0);
        r.duration = encodeTime(0, 30, 0);
        r.finish = encodeTime(10, 30, 0);
        r.computer = std::move(computer);
        r.address = "127.0.0.2";
        r.status = "Standard";
        const auto bytes = encodeLogRecord(r);
        return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    };
    std::vector<std::uint8_t> log = record("C", at(10, 29, 0)); // an earlier session of C: not this one
    for (const auto& more : {record("B", at(10, 30, 1)), record("D", at(10, 29, 59))})
        log.insert(log.end(), more.begin(), more.end());
    testing::writeLogBytes(m_log, log);
    {
        RunningSessions running(m_path, m_log, 60s);
        EXPECT_EQ(waitingNames(running), (std::vector<std::string>{"A", "C"}));
        EXPECT_EQ(running.fromBefore(), 2u);
    }

    // Cut short mid-write: the older file is read.
    write("Ostrel.running.2", formatRunningSessions(6, {paid("NEW")}).substr(0, 40));
    write("Ostrel.running", formatRunningSessions(5, {paid("A")}));
    RunningSessions running(m_path, m_log, 60s);
    EXPECT_EQ(waitingNames(running), std::vector<std::string>{"A"});
    // The next write goes into the file cut short; the one read stays whole meanwhile.
    const std::string read = readText(m_path);
    running.noteRow(paidRow("B"), at(10, 31, 0));
    ASSERT_TRUE(running.flush(10s));
    EXPECT_EQ(readText(m_path), read);
    EXPECT_TRUE(parseRunningSessions(readText(m_path + ".2")).whole);
}

// The files follow the table: a session is written once it runs, goes once it ended, and what
// still waits stays in them; the two files take turns.
TEST_F(RunningSessionsFiles, WrittenAsTheTableChangesInTurns)
{
    write("Ostrel.running", formatRunningSessions(1, {paid("WAITS")}));
    {
        RunningSessions running(m_path, m_log, 60s);
        running.noteRow(paidRow("A"), at(10, 30, 0));
        ASSERT_TRUE(running.flush(10s));
        const auto first = running.generation();
        const auto files = [&] {
            return parseRunningSessions(readText(first % 2 == 1 ? m_path : m_path + ".2")).sessions;
        };
        EXPECT_EQ(files(), (std::vector<RunningSession>{paid("WAITS"), paid("A")}));

        StationRow free = paidRow("A");
        free[ColSum].clear();
        running.noteRow(free, at(10, 31, 0));
        EXPECT_TRUE(running.takeWaiting("WAITS"));
        running.noteRow(paidRow("B"), at(10, 31, 0));
        ASSERT_TRUE(running.flush(10s));
        EXPECT_EQ(running.generation(), first + 1);
        EXPECT_EQ(parseRunningSessions(readText(first % 2 == 1 ? m_path + ".2" : m_path)).sessions,
                  (std::vector<RunningSession>{paid("B", at(10, 31, 0))}));
        running.noteRow(paidRow("C"), at(10, 32, 0));
    } // unloaded: what runs stays for the next start
    RunningSessions next(m_path, m_log, 60s);
    EXPECT_EQ(waitingNames(next), (std::vector<std::string>{"B", "C"}));
}

// A station's first report settles its session of the previous run: the same session going on is
// logged once when it ends; anything else is logged "Reset" with the session's values, before
// resumption looks at it.
TEST_F(RunningSessionsFiles, TheFirstReportSettlesTheStationsSession)
{
    const struct
    {
        const char* name;
        StationReport report;
        bool reset;
    } cases[] = {
        {"paid time goes on", sessionReport(2, "Standard", at(10, 0, 0), at(10, 40, 0), 2), false},
        {"a game goes on", sessionReport(5, "Quake", at(10, 0, 0), at(10, 40, 0), 3, 1.0 / 24), false},
        {"waiting for a game", sessionReport(6, "Quake", at(10, 0, 0), at(10, 40, 0), 3), false},
        {"back free", codeReport(1), true},
        {"another session", sessionReport(2, "Standard", at(10, 35, 0), at(10, 40, 0), 2), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::LogTempDir dir;
        std::ofstream(dir.file("Ostrel.running")) << formatRunningSessions(1, {paid("pc1")});
        StationsWorld w({false, false});
        RunningSessions running(dir.file("Ostrel.running"), w.log.path(), 60s);
        w.processor.setRunningSessions(&running);
        FakeLink back("pc1", "127.0.0.2");
        EXPECT_TRUE(w.processor.applyReport(back, c.report));
        EXPECT_TRUE(running.waiting().empty());
        const auto records = logRecords(w.log.path());
        if (!c.reset) {
            EXPECT_TRUE(records.empty());
            continue;
        }
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].comment, "Reset");
        EXPECT_EQ(records[0].computer, "pc1");
        EXPECT_DOUBLE_EQ(records[0].sum, 60);
        EXPECT_EQ(records[0].closedAt, at(12, 0, 0)); // when it was settled: the log stays in order
        // Given back as a reset always is.
        ASSERT_EQ(w.transport.sent.size(), 1u);
        EXPECT_EQ(decodeStationCommand(w.transport.sent[0])->code, CommandCode::cmdStartPaid);
    }
}

// A station that does not come back within its time: its session is logged "Reset" then, once.
TEST_F(RunningSessionsFiles, AStationThatDoesNotComeBackIsSettledWhenItsTimeIsUp)
{
    write("Ostrel.running", formatRunningSessions(1, {paid("gone")}));
    StationsWorld w({false, false});
    RunningSessions running(m_path, w.log.path(), 0ms);
    w.processor.setRunningSessions(&running);
    std::mutex lock;
    std::condition_variable settled;
    int calls = 0;
    running.setExpiryHandler([&] {
        w.processor.settleExpired();
        std::scoped_lock hold(lock);
        ++calls;
        settled.notify_all();
    });
    {
        std::unique_lock hold(lock);
        ASSERT_TRUE(settled.wait_for(hold, 10s, [&] { return calls > 0; }));
    }
    running.setExpiryHandler({});
    const auto records = logRecords(w.log.path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].computer, "gone");
    EXPECT_EQ(records[0].comment, "Reset");
    FakeLink back("gone", "127.0.0.2"); // too late: nothing is settled twice
    w.processor.applyReport(back, codeReport(1));
    EXPECT_EQ(logRecords(w.log.path()).size(), 1u);
}

// With ResumeMinutes a station is resumed from its own newest "Reset", though others were logged
// after it, as long as it is young enough; the log's tail seeds this after a restart.
TEST(ResumeMinutes, AStationIsResumedFromItsOwnNewestReset)
{
    const auto cut = [](StationsWorld& w, const std::string& name) {
        FakeLink link(name, "127.0.0.2");
        w.processor.applyReport(link, sessionReport(2, "Standard", at(10, 0, 0), at(10, 30, 0), 2));
        link.closed = true;
        w.processor.stationDisconnected(link);
    };
    for (const int minutes : {0, 30}) {
        StationsWorld w({false, false, minutes});
        cut(w, "pc1");
        cut(w, "pc2");
        FakeLink back("pc1", "127.0.0.2");
        w.processor.applyReport(back, codeReport(1));
        EXPECT_EQ(w.transport.sent.size(), minutes > 0 ? 1u : 0u) << minutes;
    }

    const double now = nowDayNumber();
    const double young = now - 10.0 / 1440;
    const struct
    {
        const char* name;
        std::vector<std::pair<double, const char*>> log; // closed at, comment; oldest first
        bool resumed;
    } cases[] = {
        {"a young reset", {{young, "Reset"}}, true},
        {"an old reset", {{now - 40.0 / 1440, "Reset"}}, false},
        {"a young Ok", {{young, "Ok"}}, false},
        {"a reset, then an Ok", {{young, "Reset"}, {young + 1.0 / 1440, "Ok"}}, false},
        {"an Ok, then a reset", {{young, "Ok"}, {young + 1.0 / 1440, "Reset"}}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StationsWorld w({false, false, 30});
        std::vector<std::uint8_t> log;
        for (const auto& [closedAt, comment] : c.log) {
            SessionLogRecord r;
            r.closedAt = closedAt;
            r.comment = comment;
            r.price = 2;
            r.sum = 20;
            r.start = encodeTime(10, 0, 0);
            r.duration = encodeTime(0, 10, 0);
            r.finish = encodeTime(10, 10, 0);
            r.computer = "pc1";
            r.address = "127.0.0.2";
            r.status = "Standard";
            const auto bytes = encodeLogRecord(r);
            log.insert(log.end(), bytes.begin(), bytes.end());
        }
        const std::string path = w.dir.file("seed.log");
        testing::writeLogBytes(path, log);
        w.processor.seedResumptions(path);
        FakeLink back("pc1", "127.0.0.2");
        w.processor.applyReport(back, codeReport(1));
        EXPECT_EQ(w.transport.sent.size(), c.resumed ? 1u : 0u);
    }
}

// The files hold what runs: a finished session is logged "Ok" and is no longer running.
TEST_F(RunningSessionsFiles, AFinishedSessionLeavesTheFiles)
{
    StationsWorld w({true, false});
    RunningSessions running(m_path, w.log.path(), 60s);
    w.processor.setRunningSessions(&running);
    FakeLink link("pc1", "127.0.0.2");
    const auto newest = [&] {
        return parseRunningSessions(readText(running.generation() % 2 == 1 ? m_path : m_path + ".2")).sessions.size();
    };
    w.processor.applyReport(link, sessionReport(2, "Standard", at(10, 0, 0), at(10, 30, 0), 2));
    ASSERT_TRUE(running.flush(10s));
    EXPECT_EQ(newest(), 1u);
    w.processor.applyReport(link, sessionReport(3, "Standard", at(10, 0, 0), at(10, 31, 0), 2));
    ASSERT_TRUE(running.flush(10s));
    EXPECT_EQ(newest(), 0u);
    EXPECT_EQ(logRecords(w.log.path()).size(), 1u);
}

} // namespace
} // namespace ostrel
