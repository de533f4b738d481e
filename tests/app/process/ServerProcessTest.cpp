#include "support/AppTestSupport.h"
#include "support/ProcessTestSupport.h"
#include "support/ServerTest.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace ostrel {
namespace {

using std::chrono::milliseconds;

// Generous: a sanitizer build loads slowly, and the machine is shared.
constexpr milliseconds StartBound{30000};

using proctest::listeningPort;
using proctest::portAccepts;
using proctest::ServerProcess;

// The shipped sample with its ports moved to free ones.
std::string sampleWithPorts(int serverTcp)
{
    return proctest::withTestPorts(proctest::readWholeFile(OSTREL_SAMPLE_INI), serverTcp);
}

using ServerProcessTest = proctest::ServerTest;

TEST_F(ServerProcessTest, ListensAndASecondStartEndsSilently)
{
    const int port = listeningPort();
    ASSERT_GT(port, 0);
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, sampleWithPorts(port));
    ServerProcess server(folder, "1");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.await([&] { return portAccepts(port); }, StartBound)) << server.err();

    ServerProcess second(folder, "2");
    ASSERT_TRUE(second.started());
    const auto status = second.waitExit(StartBound);
    ASSERT_TRUE(status) << "the second server is still running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;
    // How fast it ends is bench_app's to measure; here it only has to end, silently.
    RecordProperty("second_start_ms", static_cast<int>(second.lifetime().count()));
    EXPECT_EQ(second.out(), "");
    EXPECT_EQ(second.err(), "");

    EXPECT_TRUE(portAccepts(port)) << "the first server must be untouched";
    EXPECT_EQ(server.err().find("Ini file is corrupt"), std::string::npos) << server.err();
}

// The package puts a link in /usr/bin to the server in its own folder: started through the link, the
// server must read the Ostrel.ini beside its real file, not beside the link.
TEST_F(ServerProcessTest, StartedThroughALinkUsesTheFolderOfItsTarget)
{
    const int port = listeningPort();
    ASSERT_GT(port, 0);
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, sampleWithPorts(port));
    const apptest::TempFolder linkFolder;
    const auto link = linkFolder.path() / "ostrel-server";
    std::filesystem::create_symlink(folder.exe(), link);

    proctest::ChildProcess server({link.string()}, linkFolder.file("stdout"), linkFolder.file("stderr"),
                                  {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_TRUE(server.started());
    const auto deadline = std::chrono::steady_clock::now() + StartBound;
    while (!portAccepts(port) && server.running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    EXPECT_TRUE(portAccepts(port)) << proctest::readWholeFile(linkFolder.file("stderr"));
    server.kill();
}

// The list `Net` counts, printed without starting anything: it works beside a running server and
// needs no display.
TEST_F(ServerProcessTest, ListAddressesPrintsTheNumberedListAndExits)
{
    const int port = listeningPort();
    ASSERT_GT(port, 0);
    const proctest::ServerFolder folder(OSTREL_SERVER_PATH, sampleWithPorts(port));
    ServerProcess server(folder, "server");
    ASSERT_TRUE(server.await([&] { return portAccepts(port); }, StartBound)) << server.err();

    const auto run = proctest::runCommand("QT_QPA_PLATFORM=none '" + folder.exe().string() + "' --list-addresses");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "0: 127.0.0.1 (lo), announces to 127.0.0.255\n");
    EXPECT_TRUE(portAccepts(port)) << "the running server must be untouched";
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
        // The namespace has loopback alone: one address.
        {"KeepAliveSeconds beyond an hour", apptest::iniWithPorts(free, 0, 9, "KeepAliveSeconds=3601\n"),
         "KeepAliveSeconds"},
        {"Net beyond the interfaces' addresses", std::regex_replace(good, std::regex("Net=0"), "Net=1"),
         "Net = 1 names no address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const proctest::ServerFolder folder(OSTREL_SERVER_PATH, c.ini);
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
