// The real server killed with SIGKILL at random moments while simulated stations make it log
// sessions: whole records already in the log never change, `ostrel-log check` finds nothing worse
// than a trailing fragment, and the next run's first append repairs such a fragment.

#include "log/SessionLogRecord.h"
#include "support/AppTestSupport.h"
#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

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

TEST(ServerCrash, KilledWhileLoggingLeavesWholeRecordsIntactAndTheNextAppendRepairsAFragment)
{
    std::string why;
    if (!apptest::hostNameIsLoopback(&why))
        GTEST_SKIP() << "the server's start-up announcement would leave this host: " << why;
    const int port = proctest::listeningPort();
    ASSERT_GT(port, 0);

    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, apptest::iniWithPorts(port, 0, 9, "CloseAfterReset=1\n"));
    const fs::path log = folder.file("Ostrel.log");
    // Every station starts paid time every quarter second; each drop of a running station closes
    // a session, which the server logs "Reset".
    std::string script;
    for (int step = 0; step < 240; ++step)
        script += std::to_string(step / 4) + "." + std::to_string(step % 4 * 25) + " local all 2 1,5 0 Tariff\n";
    const std::string scriptPath = folder.file("stations.txt").string();
    std::ofstream(scriptPath) << script;

    const unsigned seed = static_cast<unsigned>(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pause(0, 700); // milliseconds of logging after the first new record
    const auto started = Clock::now();
    std::string before; // the log as the previous run left it
    int runs = 0;
    int repaired = 0;

    for (; runs < 20 && Clock::now() - started < 40s; ++runs) {
        SCOPED_TRACE("run " + std::to_string(runs));
        const std::uint64_t wholeBefore = before.size() / SessionLogRecordSize;
        proctest::ServerProcess server(folder, std::to_string(runs));
        ASSERT_TRUE(server.started());
        ASSERT_TRUE(server.await([&] { return proctest::portAccepts(port); }, 30s))
            << "the server did not listen (is another instance running?): " << server.err();

        ChildProcess stations({OSTREL_STATION_PATH, "--server", "127.0.0.1", "--port", std::to_string(port),
                               "--stations", "100", "--drop-after", "0.3", "--rate", "5", "--script", scriptPath,
                               "--duration", "50", "--quiet"},
                              folder.file("stations.out").string(), folder.file("stations.err").string());
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
        const auto check = proctest::runCommand(std::string("'") + OSTREL_LOG_TOOL + "' check '" + log.string() + "'");
        const std::uint64_t fragment = after.size() % SessionLogRecordSize;
        if (fragment == 0) {
            EXPECT_EQ(check.exitCode, 0) << check.output;
        } else {
            EXPECT_EQ(check.exitCode, 1) << check.output;
            EXPECT_EQ(check.output.find("record "), std::string::npos) << "a whole record is damaged:\n"
                                                                       << check.output;
        }
        if (before.size() % SessionLogRecordSize != 0 && fragment == 0)
            ++repaired;
        if (HasFailure())
            return;

        before = after;
        // Every third run ends with a torn write, as a power loss leaves one, for the next run to repair.
        if (runs % 3 == 1 && fragment == 0) {
            before.append(1 + static_cast<std::size_t>(runs) * 37 % 167, '\x5B');
            std::ofstream(log, std::ios::binary | std::ios::trunc) << before;
        }
    }
    RecordProperty("runs", runs);
    RecordProperty("records", static_cast<int>(before.size() / SessionLogRecordSize));
    RecordProperty("repaired", repaired);
    EXPECT_GE(runs, 5);
    EXPECT_GE(repaired, 1);
}

} // namespace
} // namespace ostrel
