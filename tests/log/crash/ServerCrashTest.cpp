// The real server killed with SIGKILL at random moments while simulated stations make it log
// sessions: whole records already in the log never change, `ostrel-log check` finds nothing worse
// than a trailing fragment, and the next run's first append repairs such a fragment.

#include "log/SessionLogRecord.h"
#include "support/AppTestSupport.h"
#include "support/ProcessTestSupport.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
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

int freeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof any;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length) == 0;
    ::close(fd);
    return ok ? ntohs(any.sin_port) : -1;
}

bool portAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return accepted;
}

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
    const int port = freeTcpPort();
    ASSERT_GT(port, 0);

    apptest::TempFolder folder;
    const fs::path exe = folder.path() / "ostrel-server";
    fs::copy_file(OSTREL_SERVER_PATH, exe);
    folder.write("Ostrel.ini", apptest::iniWithPorts(port, 0, 9, "CloseAfterReset=1\n"));
    const fs::path log = folder.path() / "Ostrel.log";
    // Every station starts paid time every quarter second; each drop of a running station closes
    // a session, which the server logs "Reset".
    std::string script;
    for (int step = 0; step < 240; ++step)
        script += std::to_string(step / 4) + "." + std::to_string(step % 4 * 25) + " local all 2 1,5 0 Tariff\n";
    const std::string scriptPath = folder.write("stations.txt", script);

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
        ChildProcess server({exe.string()}, folder.file("server.out"), folder.file("server.err"),
                            {"QT_QPA_PLATFORM=offscreen"});
        ASSERT_TRUE(server.started());
        auto deadline = Clock::now() + 30s;
        while (!portAccepts(port) && server.running() && Clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(portAccepts(port)) << "the server did not listen (is another instance running?): "
                                       << proctest::readWholeFile(folder.file("server.err"));

        ChildProcess stations({OSTREL_STATION_PATH, "--server", "127.0.0.1", "--port", std::to_string(port),
                               "--stations", "100", "--drop-after", "0.3", "--rate", "5", "--script", scriptPath,
                               "--duration", "50", "--quiet"},
                              folder.file("stations.out"), folder.file("stations.err"));
        ASSERT_TRUE(stations.started());
        // Killed only once this run has logged: so each run appends, and a fragment is repaired.
        deadline = Clock::now() + 20s;
        while (fileSize(log) / SessionLogRecordSize <= wholeBefore && server.running() && Clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_GT(fileSize(log) / SessionLogRecordSize, wholeBefore) << "no session was logged";
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        ASSERT_TRUE(server.running()) << proctest::readWholeFile(folder.file("server.err"));
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
