// bench_log [FOLDER] [RECORDS]: measures appends to the session log with and without fsync in
// FOLDER (default: the current folder; fsync on tmpfs costs nothing, so pick a real disk), then
// scans and dumps a generated log of RECORDS records (default 1,000,000). A plain sequential read
// of the same file comes first: what no reader of it can beat on this machine.

#include "log/HistoryTable.h"
#include "log/LogScan.h"
#include "log/SessionLog.h"
#include "log/SessionLogRecord.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ostrel;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

StationRow benchRow(int i)
{
    return {"PC-" + std::to_string(i % 40),
            "127.0.0." + std::to_string(2 + i % 40),
            "\xD7\xE0\xF1",
            "30,00",
            "10:00:00",
            "1:30:00",
            "11:30:00",
            "0:00:00",
            "45,00"};
}

void benchAppends(const std::string& path, int count, bool sync)
{
    ::unlink(path.c_str());
    HistoryTable history;
    SessionLog log(path, history);
    if (!sync)
        log.skipSyncForBenchmark();
    const auto start = Clock::now();
    int failed = 0;
    // With the sync: each append waits until it is durable, as when sessions end one at a time.
    for (int i = 0; i < count; ++i) {
        failed += log.LogSession(benchRow(i), "Ok") != LogResult::Appended;
        if (sync)
            log.waitDurable();
    }
    const double s = secondsSince(start);
    std::printf("append %-10s %7d records  %8.3f s  %10.0f appends/s  %8.1f us each%s\n",
                sync ? "with fsync" : "no fsync", count, s, count / s, s / count * 1e6, failed ? "  FAILURES" : "");
    if (sync) {
        // Sessions ending in a burst: the appender never waits, one sync covers whatever came
        // meanwhile. The time on the appending thread is what StationTableMutex is held for.
        ::unlink(path.c_str());
        HistoryTable burstHistory;
        SessionLog burst(path, burstHistory);
        const auto from = Clock::now();
        for (int i = 0; i < count; ++i)
            failed += burst.LogSession(benchRow(i), "Ok") != LogResult::Appended;
        const double appending = secondsSince(from);
        burst.waitDurable();
        const double durable = secondsSince(from);
        std::printf("append group commit %7d records  %8.3f s until durable  %10.0f appends/s  %8.1f us each on the "
                    "appending thread  %llu syncs%s\n",
                    count, durable, count / durable, appending / count * 1e6,
                    static_cast<unsigned long long>(burst.syncs()), failed ? "  FAILURES" : "");
    }
    ::unlink(path.c_str());
}

bool generateLog(const std::string& path, long records)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::vector<std::uint8_t> block;
    block.reserve(4096 * SessionLogRecordSize);
    SessionLogRecord r;
    r.price = 30;
    r.start = 10.0 / 24;
    r.duration = 1.5 / 24;
    r.finish = 11.5 / 24;
    r.sum = 45;
    r.address = "127.0.0.2";
    r.status = "\xD7\xE0\xF1";
    r.comment = "Ok";
    bool ok = true;
    for (long i = 0; i < records && ok; ++i) {
        r.closedAt = 46000 + static_cast<double>(i) / 1440;
        r.computer = "PC-" + std::to_string(i % 40);
        const auto bytes = encodeLogRecord(r);
        block.insert(block.end(), bytes.begin(), bytes.end());
        if (block.size() >= 4096 * SessionLogRecordSize || i + 1 == records) {
            ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
            block.clear();
        }
    }
    return ::close(fd) == 0 && ok;
}

// The ceiling for every reader below: read() of the whole file in 1 MiB blocks, nothing decoded.
void rawRead(const std::string& path)
{
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    std::vector<char> buffer(1 << 20);
    unsigned long long bytes = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        bytes += static_cast<unsigned long long>(n);
    ::close(fd);
    const double s = secondsSince(start);
    std::printf("raw read                  %8.4f s  %llu bytes  %.0f MB/s\n", s, bytes,
                static_cast<double>(bytes) / s / 1e6);
}

void runTool(const char* command, const std::string& path)
{
#ifdef OSTREL_LOG_TOOL
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(OSTREL_LOG_TOOL), const_cast<char*>(command), const_cast<char*>(path.c_str()),
                    nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, OSTREL_LOG_TOOL, &actions, nullptr, argv, environ) == 0)
        ::waitpid(pid, &status, 0);
    const double s = secondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    std::printf("ostrel-log %-6s > /dev/null  %8.3f s  exit %d\n", command, s,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
#else
    (void)command;
    (void)path;
#endif
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : ".";
    const long records = argc > 2 ? std::atol(argv[2]) : 1'000'000;
    const std::string path = folder + "/bench-Ostrel.log";

    benchAppends(path, 200, true);
    benchAppends(path, 20'000, false);

    auto start = Clock::now();
    if (!generateLog(path, records)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("generate %ld records %8.3f s\n", records, secondsSince(start));

    rawRead(path);

    start = Clock::now();
    const LogScanResult scan = scanLogFile(path, {});
    std::printf("scan (ClosedAt only)      %8.3f s  %llu records\n", secondsSince(start),
                static_cast<unsigned long long>(scan.records));

    start = Clock::now();
    std::size_t textBytes = 0;
    scanLogFile(path, [&](const LogScanEntry& e) {
        textBytes += decodeLogRecord(e.bytes).computer.size();
        return true;
    });
    std::printf("scan and decode           %8.3f s\n", secondsSince(start));
    if (textBytes == 0)
        std::printf("(nothing decoded)\n");

    runTool("check", path);
    runTool("dump", path);
    runTool("csv", path);
    if (!std::getenv("BENCH_LOG_KEEP"))
        ::unlink(path.c_str());
    return 0;
}
