// Starts the built server the way an operator does (its own folder, the sample Ostrel.ini with
// free ports) and measures:
//   - start to listening: from the spawn until its TCP port accepts a connection, several runs;
//   - a second start: from its spawn until it has ended, while the first one runs;
//   - idle CPU: utime + stime from /proc/<pid>/stat over a quiet interval, window shown.
// Usage: bench_app [runs=10] [idle seconds=10] [server path]
// The server announces itself on its host's interfaces at start-up: run this only where loopback
// is the one interface up (scripts/test.sh's private network namespace, or `unshare -n`).

#include "support/ProcessTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace apptest = ostrel::apptest;
namespace proctest = ostrel::proctest;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

pid_t spawn(const fs::path& exe)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0)
            env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string path = exe.string();
    std::vector<char*> argv{const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// utime + stime of a process, in clock ticks.
long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    const auto close = stat.rfind(')'); // the command name may hold blanks
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

void stop(pid_t pid)
{
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

struct Folder
{
    fs::path path;
    int port;
};

Folder prepare(const fs::path& server, int index)
{
    Folder folder{fs::temp_directory_path() /
                      ("ostrel_bench_app_" + std::to_string(::getpid()) + "_" + std::to_string(index)),
                  proctest::listeningPort()};
    fs::remove_all(folder.path);
    fs::create_directories(folder.path);
    fs::copy_file(server, folder.path / "ostrel-server");
    std::ofstream(folder.path / "Ostrel.ini", std::ios::binary)
        << proctest::withTestPorts(proctest::readWholeFile(OSTREL_SAMPLE_INI), folder.port);
    return folder;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const fs::path server = argc > 3 ? fs::path(argv[3]) : fs::path(OSTREL_SERVER_PATH);
    if (std::string why; !proctest::onlyLoopbackIsUp(&why)) {
        std::fprintf(stderr, "bench_app: the start-up announcement would leave this host: %s\n", why.c_str());
        return 2;
    }

    std::vector<double> listening;
    std::vector<double> secondStart;
    double idlePercent = -1;
    for (int run = 0; run < runs; ++run) {
        const Folder folder = prepare(server, run);
        const auto started = Clock::now();
        const pid_t pid = spawn(folder.path / "ostrel-server");
        bool up = false;
        while (!up && msSince(started) < 30000) {
            up = proctest::portAccepts(folder.port);
            if (!up)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        if (!up) {
            std::fprintf(stderr, "bench_app: run %d: the server did not listen within 30 s\n", run);
            stop(pid);
            return 1;
        }
        listening.push_back(msSince(started));

        const auto secondStarted = Clock::now();
        const pid_t second = spawn(folder.path / "ostrel-server");
        ::waitpid(second, nullptr, 0);
        secondStart.push_back(msSince(secondStarted));

        if (run == 0) {
            const long before = cpuTicks(pid);
            std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
            const long after = cpuTicks(pid);
            idlePercent = 100.0 * static_cast<double>(after - before) /
                          (static_cast<double>(::sysconf(_SC_CLK_TCK)) * idleSeconds);
        }
        stop(pid);
        fs::remove_all(folder.path);
    }

    auto report = [](const char* what, std::vector<double> values) {
        std::sort(values.begin(), values.end());
        const double mean = std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
        std::printf("%-28s runs %zu  min %.1f ms  median %.1f ms  mean %.1f ms  max %.1f ms\n", what, values.size(),
                    values.front(), values[values.size() / 2], mean, values.back());
    };
    report("start to listening", listening);
    report("second start to exit", secondStart);
    std::printf("%-28s %.2f %% of one core over %d s (window shown, animation running)\n", "idle CPU", idlePercent,
                idleSeconds);
    return 0;
}
