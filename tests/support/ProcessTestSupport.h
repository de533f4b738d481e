#pragma once

// Child processes for tests that run built programs: started with posix_spawn, output to files,
// waited for with a bound, killed when the test is done with them.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrel::proctest {

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct CommandRun
{
    int exitCode = -1;  // -1 when it could not be run or did not exit normally
    std::string output; // stdout and stderr together
};

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
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
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
    std::optional<int> m_status;
};

} // namespace ostrel::proctest
