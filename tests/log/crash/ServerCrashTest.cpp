// The real server killed with SIGKILL at random moments while simulated stations make it log
// sessions: whole records already in the log never change, `ostrel-log check` finds nothing worse
// than a trailing fragment, and the next run's first append repairs such a fragment.

#include "log/LogScan.h"
#include "log/SessionLogRecord.h"
#include "stations/RunningSessions.h"
#include "support/AppTestSupport.h"
#include "support/ProcessTestSupport.h"
#include "support/ServerTest.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <string_view>

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using proctest::ChildProcess;

std::uint64_t fileSize(const fs::path& path)
{
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// Every station starts paid time every quarter second for a minute; each drop of a running
// station closes a session, which the server logs "Reset".
std::string writeSessionScript(const proctest::ServerFolder& folder)
{
    std::string script;
    for (int step = 0; step < 240; ++step)
        script += std::to_string(step / 4) + "." + std::to_string(step % 4 * 25) + " local all 2 1,5 0 Tariff\n";
    const std::string path = folder.file("stations.txt").string();
    std::ofstream(path) << script;
    return path;
}

std::vector<std::string> stationArguments(int port, const std::string& script, const std::string& first, int count)
{
    return {OSTREL_STATION_PATH,
            "--server",
            "127.0.0.1",
            "--port",
            std::to_string(port),
            "--first-address",
            first,
            "--stations",
            std::to_string(count),
            "--script",
            script,
            "--duration",
            "50",
            "--quiet"};
}

proctest::CommandRun checkLog(const fs::path& log)
{
    return proctest::runCommand(std::string("'") + OSTREL_LOG_TOOL + "' check '" + log.string() + "'");
}

// Sessions in the log of the stations whose addresses begin with `prefix`.
int sessionsFrom(const fs::path& log, std::string_view prefix, LogScanResult* scan = nullptr)
{
    int sessions = 0;
    const auto result = scanLogFile(log.string(), [&](const LogScanEntry& entry) {
        sessions += decodeLogRecord(entry.bytes).address.starts_with(prefix);
        return true;
    });
    if (scan)
        *scan = result;
    return sessions;
}

// Every test runs the real server on a free port of its own, killed and restarted as it goes.
class ServerCrash : public proctest::ServerTest
{
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        if (IsSkipped())
            return;
        port = proctest::listeningPort();
        ASSERT_GT(port, 0);
    }

    // A station that comes back after a reset is never resumed: each reset stays a logged session.
    std::string ini(const std::string& more = {}) const
    {
        return apptest::iniWithPorts(port, 0, 9, "CloseAfterReset=1\n" + more);
    }

    bool awaitListening(proctest::ServerProcess& server) const
    {
        return server.await([this] { return proctest::portAccepts(port); }, 30s);
    }

    int port = 0;
};

TEST_F(ServerCrash, KilledWhileLoggingLeavesWholeRecordsIntactAndTheNextAppendRepairsAFragment)
{
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, ini());
    const fs::path log = folder.file("Ostrel.log");
    const std::string scriptPath = writeSessionScript(folder);

    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 700); // milliseconds of logging after the first new record
    // A fixed number of runs, however fast the machine: each run's waits have bounds of their own.
    constexpr int Runs = 6;
    std::string before;  // the log as the previous run left it
    int startedTorn = 0; // runs that began on a fragment, which their first append had to overwrite

    for (int runs = 0; runs < Runs; ++runs) {
        SCOPED_TRACE("run " + std::to_string(runs));
        const std::uint64_t wholeBefore = before.size() / SessionLogRecordSize;
        startedTorn += before.size() % SessionLogRecordSize != 0;
        proctest::ServerProcess server(folder, std::to_string(runs));
        ASSERT_TRUE(server.started());
        ASSERT_TRUE(awaitListening(server))
            << "the server did not listen (is another instance running?): " << server.err();

        auto arguments = stationArguments(port, scriptPath, "127.0.0.2", 100);
        arguments.insert(arguments.end(), {"--drop-after", "0.3", "--rate", "5"});
        ChildProcess stations(arguments, folder.file("stations.out").string(), folder.file("stations.err").string());
        ASSERT_TRUE(stations.started());
        // Killed only once this run has logged: so each run appends, and a fragment is repaired.
        const auto deadline = Clock::now() + 20s;
        while (fileSize(log) / SessionLogRecordSize <= wholeBefore && server.running() && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_GT(fileSize(log) / SessionLogRecordSize, wholeBefore) << "no session was logged";
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        ASSERT_TRUE(server.running()) << server.err();
        server.kill();
        stations.kill();

        const std::string after = proctest::readWholeFile(log.string());
        const std::size_t kept = wholeBefore * SessionLogRecordSize;
        ASSERT_GE(after.size(), kept);
        EXPECT_TRUE(after.compare(0, kept, before, 0, kept) == 0) << "a whole record changed";
        const auto check = checkLog(log);
        const std::uint64_t fragment = after.size() % SessionLogRecordSize;
        // A fragment that the run's first append did not overwrite would shift every record after
        // it, and the check would find them damaged.
        if (fragment == 0) {
            EXPECT_EQ(check.exitCode, 0) << check.output;
        } else {
            EXPECT_EQ(check.exitCode, 1) << check.output;
            EXPECT_EQ(check.output.find("record "), std::string::npos) << "a whole record is damaged:\n"
                                                                       << check.output;
        }
        if (HasFailure())
            return;

        before = after;
        // Every third run ends with a torn write, as a power loss leaves one, for the next run to
        // repair (unless the kill left one of its own).
        if (runs % 3 == 1 && fragment == 0) {
            before.append(1 + static_cast<std::size_t>(runs) * 37 % 167, '\x5B');
            std::ofstream(log, std::ios::binary | std::ios::trunc) << before;
        }
    }
    RecordProperty("records", static_cast<int>(before.size() / SessionLogRecordSize));
    RecordProperty("started_torn", startedTorn);
    EXPECT_GE(startedTorn, 2); // runs 2 and 5 at least: the repair was exercised
}

// Stations that send garbage, split reports and single bytes beside well-behaved ones: the server
// stays up and goes on logging the well-behaved stations' sessions.
TEST_F(ServerCrash, HostileStationsNeitherBringTheServerDownNorCostOthersTheirSessions)
{
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, ini());
    const std::string script = writeSessionScript(folder);
    proctest::ServerProcess server(folder, "");
    ASSERT_TRUE(awaitListening(server)) << server.err();

    auto trickling = stationArguments(port, script, "127.0.5.1", 50);
    trickling.insert(trickling.end(), {"--garbage", "0.5", "--one-byte", "--rate", "20", "--drop-after", "0.7"});
    auto noisy = stationArguments(port, script, "127.0.6.1", 50);
    noisy.insert(noisy.end(), {"--garbage", "1", "--split", "--rate", "50"});
    auto good = stationArguments(port, script, "127.0.7.1", 20);
    good.insert(good.end(), {"--drop-after", "0.3", "--rate", "5"});
    ChildProcess first(trickling, folder.file("trickling.out").string(), folder.file("trickling.err").string());
    ChildProcess second(noisy, folder.file("noisy.out").string(), folder.file("noisy.err").string());
    ChildProcess third(good, folder.file("good.out").string(), folder.file("good.err").string());
    ASSERT_TRUE(first.started() && second.started() && third.started());

    // The hostile stations go on for at least five seconds, and the test waits until the good ones
    // have had sessions logged: a count, not a rate, so a slow or busy machine only takes longer.
    // Their simulators stop after 50 s; a server that starved them fails at the bound.
    const fs::path log = folder.file("Ostrel.log");
    constexpr int GoodSessions = 20;
    const auto started = Clock::now();
    const auto bound = started + 45s;
    while (server.running() && Clock::now() < bound &&
           (Clock::now() < started + 5s || sessionsFrom(log, "127.0.7.") < GoodSessions))
        std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(server.running()) << server.err();
    server.kill();

    LogScanResult result;
    const int sessions = sessionsFrom(log, "127.0.7.", &result);
    EXPECT_FALSE(result.firstBadDate);
    EXPECT_FALSE(result.firstBadLength);
    RecordProperty("good_sessions", sessions);
    EXPECT_GE(sessions, GoodSessions) << "the well-behaved stations' sessions were not logged within 45 s";
}

// A power cut of the whole salon: the server and every station die together while sessions run.
// The server then comes back alone, is killed again at random moments while it settles them, and
// at last runs to the end of the wait: every session is in the log once, as "Reset".
TEST_F(ServerCrash, APowerCutsSessionsAreLoggedOnceHoweverOftenTheSettlingIsKilled)
{
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, ini("ReturnSeconds=2\n"));
    const fs::path log = folder.file("Ostrel.log");
    const std::string script = folder.file("paid.txt").string();
    std::ofstream(script) << "0.5 local all 2 1,5 0 Tariff\n";
    constexpr int Stations = 20;
    // What the newer of the two running-sessions files holds.
    const auto runningNow = [&] {
        std::size_t most = 0;
        std::uint64_t newest = 0;
        for (const char* name : {"Ostrel.running", "Ostrel.running.2"}) {
            const auto parsed = parseRunningSessions(proctest::readWholeFile(folder.file(name).string()));
            if (parsed.whole && parsed.generation.value_or(0) >= newest) {
                newest = *parsed.generation;
                most = parsed.sessions.size();
            }
        }
        return most;
    };
    {
        proctest::ServerProcess server(folder, "before");
        ASSERT_TRUE(awaitListening(server)) << server.err();
        ChildProcess stations(stationArguments(port, script, "127.0.8.1", Stations),
                              folder.file("stations.out").string(), folder.file("stations.err").string());
        ASSERT_TRUE(stations.started());
        ASSERT_TRUE(server.await([&] { return runningNow() == Stations; }, 30s)) << server.err();
        server.kill(); // the power goes: server and stations at once
        stations.kill();
    }
    ASSERT_EQ(fileSize(log), 0u) << "nothing was logged before the cut";

    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> life(0, 3000); // milliseconds, around the two seconds' wait
    for (int run = 0; run < 4; ++run) {
        proctest::ServerProcess server(folder, "settling " + std::to_string(run));
        ASSERT_TRUE(awaitListening(server)) << server.err();
        std::this_thread::sleep_for(std::chrono::milliseconds(life(random)));
        server.kill();
    }
    {
        proctest::ServerProcess server(folder, "last");
        ASSERT_TRUE(awaitListening(server)) << server.err();
        ASSERT_TRUE(server.await([&] { return runningNow() == 0 && fileSize(log) > 0; }, 30s)) << server.err();
        server.kill();
    }
    std::multiset<std::string> computers;
    scanLogFile(log.string(), [&](const LogScanEntry& entry) {
        const SessionLogRecord r = decodeLogRecord(entry.bytes);
        EXPECT_EQ(r.comment, "Reset");
        computers.insert(r.computer);
        return true;
    });
    EXPECT_EQ(computers.size(), static_cast<std::size_t>(Stations));
    EXPECT_EQ(std::set<std::string>(computers.begin(), computers.end()).size(), static_cast<std::size_t>(Stations))
        << "a session was logged twice";
    const auto check = checkLog(log);
    EXPECT_EQ(check.exitCode, 0) << check.output; // in order of closing, nothing damaged
}

} // namespace
} // namespace ostrel
