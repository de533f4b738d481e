#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ostrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: a sanitizer build loads slowly, and the machine is shared.
constexpr milliseconds StartBound{30000};
constexpr milliseconds SecondStartBound{2000};

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool portAccepts(int port)
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

// A listening socket on all addresses at a port the system chose; closed again unless `fdOut` takes it.
int listeningPort(int* fdOut = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t length = sizeof(any);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length);
    if (fdOut)
        *fdOut = fd;
    else
        ::close(fd);
    return ntohs(any.sin_port);
}

// The server in a folder of its own: the executable copied (a link would resolve to the build
// folder, where the server would look for its ini) and the given Ostrel.ini beside it.
class ServerFolder
{
public:
    explicit ServerFolder(const std::optional<std::string>& ini)
    {
        fs::copy_file(OSTREL_SERVER_PATH, exe(), fs::copy_options::overwrite_existing);
        if (ini)
            m_folder.write("Ostrel.ini", *ini);
    }
    fs::path exe() const { return m_folder.path() / "ostrel-server"; }
    fs::path file(const char* name) const { return m_folder.path() / name; }

private:
    apptest::TempFolder m_folder;
};

class ServerProcess
{
public:
    ServerProcess(const ServerFolder& folder, const std::string& tag)
        : m_out(folder.file("stdout")), m_err(folder.file("stderr"))
    {
        m_out += tag;
        m_err += tag;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).substr(0, 16) != "QT_QPA_PLATFORM=")
                env.emplace_back(*e);
        env.emplace_back("QT_QPA_PLATFORM=offscreen");
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string path = folder.exe().string();
        std::vector<char*> argv{const_cast<char*>(path.c_str()), nullptr};
        m_started = Clock::now();
        if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServerProcess() { kill(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return m_pid > 0; }
    std::string out() const { return readFile(m_out); }
    std::string err() const { return readFile(m_err); }

    // The wait status once the process has ended, or nullopt when it still runs after `bound`.
    std::optional<int> waitExit(milliseconds bound)
    {
        const auto deadline = Clock::now() + bound;
        while (m_pid > 0) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_ended = Clock::now();
                return status;
            }
            if (Clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(milliseconds(1));
        }
        return std::nullopt;
    }
    milliseconds lifetime() const { return std::chrono::duration_cast<milliseconds>(m_ended - m_started); }

    // Waits until `ready` holds; false when the process ended first or the bound passed.
    template <class Ready> bool await(Ready ready, milliseconds bound)
    {
        const auto deadline = Clock::now() + bound;
        while (!ready()) {
            int status = 0;
            if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_pid = -1;
            if (m_pid <= 0 || Clock::now() > deadline)
                return ready();
            std::this_thread::sleep_for(milliseconds(5));
        }
        return true;
    }

    void kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    std::string m_out;
    std::string m_err;
    Clock::time_point m_started;
    Clock::time_point m_ended;
};

// The shipped sample with its ports moved to free ones.
std::string sampleWithPorts(int serverTcp)
{
    std::string ini = readFile(OSTREL_SAMPLE_INI);
    ini = std::regex_replace(ini, std::regex("\nServerTCP=[^\r\n]*"), "\nServerTCP=" + std::to_string(serverTcp));
    ini = std::regex_replace(ini, std::regex("\nServerUDP=[^\r\n]*"), "\nServerUDP=0");
    ini = std::regex_replace(ini, std::regex("\nClientUDP=[^\r\n]*"), "\nClientUDP=9");
    return ini;
}

class ServerProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!apptest::hostNameIsLoopback(&why))
            GTEST_SKIP() << "the server's start-up announcement would leave this host: " << why;
    }
};

TEST_F(ServerProcessTest, ListensAndASecondStartEndsSilently)
{
    const int port = listeningPort();
    ASSERT_GT(port, 0);
    ServerFolder folder(sampleWithPorts(port));
    ServerProcess server(folder, "1");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.await([&] { return portAccepts(port); }, StartBound)) << server.err();

    ServerProcess second(folder, "2");
    ASSERT_TRUE(second.started());
    const auto status = second.waitExit(StartBound);
    ASSERT_TRUE(status) << "the second server is still running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    EXPECT_LT(second.lifetime(), SecondStartBound);
    RecordProperty("second_start_ms", static_cast<int>(second.lifetime().count()));
    EXPECT_EQ(second.out(), "");
    EXPECT_EQ(second.err(), "");

    EXPECT_TRUE(portAccepts(port)) << "the first server must be untouched";
    EXPECT_EQ(server.err().find("Ini file is corrupt"), std::string::npos) << server.err();
}

TEST_F(ServerProcessTest, BadConfigurationPrintsTheFailureLine)
{
    int holder = -1;
    const int taken = listeningPort(&holder);
    ASSERT_GT(taken, 0);
    const int free = listeningPort();
    struct Case
    {
        const char* what;
        std::optional<std::string> ini;
        const char* cause;
    };
    const std::string good = apptest::iniWithPorts(free, 0, 9);
    const Case cases[] = {
        {"no ini", std::nullopt, "Ostrel.ini"},
        {"ServerTCP not a number", std::regex_replace(good, std::regex("ServerTCP=\\d+"), "ServerTCP=abc"),
         "ServerTCP"},
        {"ServerUDP out of range", std::regex_replace(good, std::regex("ServerUDP=\\d+"), "ServerUDP=70000"),
         "ServerUDP"},
        {"CloseAfterReset not a number", apptest::iniWithPorts(free, 0, 9, "CloseAfterReset=yes\n"), "CloseAfterReset"},
        {"port in use", apptest::iniWithPorts(taken, 0, 9), "TCP port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ServerFolder folder(c.ini);
        ServerProcess server(folder, "");
        ASSERT_TRUE(server.started());
        // The message box then waits for an operator; the line on stderr is what we wait for.
        const bool said = server.await(
            [&] {
                const std::string err = server.err();
                return err.find("Ini file is corrupt") != std::string::npos && err.find('\n') != std::string::npos;
            },
            StartBound);
        const std::string err = server.err();
        EXPECT_TRUE(said) << err;
        EXPECT_NE(err.find(c.cause), std::string::npos) << err;
        EXPECT_FALSE(c.ini && c.cause != std::string("TCP port") && portAccepts(free));
        server.kill();
    }
    ::close(holder);
}

} // namespace
} // namespace ostrel
