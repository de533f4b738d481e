#pragma once

// Child processes for tests that run built programs: started with posix_spawn, output to files,
// waited for with a bound, killed when the test is done with them. The server runs from a folder
// of its own, as an operator would start it.

#include "support/AppTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrel::proctest {

using testing::readWholeFile;

struct CommandRun
{
    int exitCode = -1;  // -1 when it could not be run or did not exit normally
    std::string output; // stdout and stderr together
};

// An ini file's text with its ports moved: the server's TCP port to `serverTcp`, discovery's off
// (0) and the stations' port to 9 (discard), so nothing answers on a shared port.
inline std::string withTestPorts(std::string ini, int serverTcp)
{
    ini = std::regex_replace(ini, std::regex("\nServerTCP=[^\r\n]*"), "\nServerTCP=" + std::to_string(serverTcp));
    ini = std::regex_replace(ini, std::regex("\nServerUDP=[^\r\n]*"), "\nServerUDP=0");
    ini = std::regex_replace(ini, std::regex("\nClientUDP=[^\r\n]*"), "\nClientUDP=9");
    return ini;
}

// Runs a shell command line and collects its output.
inline CommandRun runCommand(const std::string& command)
{
    CommandRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class ChildProcess
{
public:
    // `environment` entries are added to (and override) the test's own environment.
    ChildProcess(const std::vector<std::string>& argv, const std::string& stdoutPath, const std::string& stderrPath,
                 const std::vector<std::string>& environment = {})
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool overridden = false;
            for (const auto& mine : environment)
                overridden = overridden || entry.substr(0, entry.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
            if (!overridden)
                env.push_back(entry);
        }
        env.insert(env.end(), environment.begin(), environment.end());
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (auto& a : args)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&m_pid, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0)
            m_pid = -1;
        m_spawned = m_pid > 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_spawned; }
    bool running()
    {
        int status = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_status = status;
        }
        return m_pid > 0;
    }
    // The wait status once the process has ended, or nullopt when it still runs after `bound`.
    std::optional<int> waitExit(std::chrono::milliseconds bound)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (running()) {
            if (std::chrono::steady_clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return m_status;
    }
    void kill(int signal = SIGKILL)
    {
        if (m_pid > 0) {
            ::kill(m_pid, signal);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_status = status;
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    bool m_spawned = false;
    std::optional<int> m_status;
};

// The server announces itself on whichever interface the host has, so a test may start it only
// where loopback is the one interface up: a private network namespace, as scripts/test.sh runs
// the tests in. Every test that starts the server skips itself when this is false.
inline bool onlyLoopbackIsUp(std::string* why = nullptr)
{
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) {
        if (why)
            *why = "the network interfaces cannot be read";
        return false;
    }
    std::string up;
    for (const ifaddrs* i = interfaces; i && up.empty(); i = i->ifa_next) {
        if ((i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK))
            up = i->ifa_name ? i->ifa_name : "?";
    }
    ::freeifaddrs(interfaces);
    if (!up.empty() && why)
        *why = "interface " + up + " is up; run the tests in a private network namespace (scripts/test.sh)";
    return up.empty();
}

// True when a TCP connection to the loopback address at `port` is accepted.
inline bool portAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
    ::close(fd);
    return accepted;
}

// A listening socket on all addresses at a free port below the kernel's ephemeral range (32768 up),
// closed again unless `fdOut` takes it. A port from the ephemeral range could be taken meanwhile
// as the source port of some outgoing connection (the simulated stations make hundreds), and the
// server restarted on it would then fail to listen.
inline int listeningPort(int* fdOut = nullptr)
{
    static unsigned next = 20000 + static_cast<unsigned>(::getpid()) % 10000;
    for (int attempt = 0; attempt < 2000; ++attempt) {
        const auto port = static_cast<std::uint16_t>(20000 + (next++ % 12000));
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0 || ::listen(fd, 1) != 0) {
            ::close(fd);
            continue;
        }
        if (fdOut)
            *fdOut = fd;
        else
            ::close(fd);
        return port;
    }
    return -1;
}

// The server in a folder of its own: the executable copied (a link would resolve to the build
// folder, where the server would look for its ini) and the given Ostrel.ini beside it.
class ServerFolder
{
public:
    ServerFolder(const std::filesystem::path& server, const std::optional<std::string>& ini)
    {
        std::filesystem::copy_file(server, exe(), std::filesystem::copy_options::overwrite_existing);
        if (ini)
            m_folder.write("Ostrel.ini", *ini);
    }
    std::filesystem::path exe() const { return m_folder.path() / "ostrel-server"; }
    std::filesystem::path file(const char* name) const { return m_folder.path() / name; }

private:
    apptest::TempFolder m_folder;
};

// The server started from its folder under the offscreen platform; stdout and stderr go to files
// there, named with `tag`.
class ServerProcess
{
public:
    ServerProcess(const ServerFolder& folder, const std::string& tag)
        : m_out(folder.file("stdout").string() + tag), m_err(folder.file("stderr").string() + tag),
          m_started(std::chrono::steady_clock::now()),
          m_process({folder.exe().string()}, m_out, m_err, {"QT_QPA_PLATFORM=offscreen"})
    {}

    bool started() const { return m_process.started(); }
    bool running() { return m_process.running(); }
    std::string out() const { return readWholeFile(m_out); }
    std::string err() const { return readWholeFile(m_err); }

    // The wait status once the process has ended, or nullopt when it still runs after `bound`.
    std::optional<int> waitExit(std::chrono::milliseconds bound)
    {
        const auto status = m_process.waitExit(bound);
        if (status)
            m_ended = std::chrono::steady_clock::now();
        return status;
    }
    std::chrono::milliseconds lifetime() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_ended - m_started);
    }

    // Waits until `ready` holds; false when the process ended first or the bound passed.
    template <class Ready> bool await(Ready ready, std::chrono::milliseconds bound)
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (!ready()) {
            if (!m_process.running() || std::chrono::steady_clock::now() > deadline)
                return ready();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void kill(int signal = SIGKILL) { m_process.kill(signal); }

private:
    std::string m_out;
    std::string m_err;
    std::chrono::steady_clock::time_point m_started;
    std::chrono::steady_clock::time_point m_ended;
    ChildProcess m_process;
};

} // namespace ostrel::proctest
