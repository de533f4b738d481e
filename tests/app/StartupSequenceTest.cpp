#include "app/StartupSequence.h"

#include "app/ProcessLimits.h"
#include "app/StartupError.h"

#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel {
namespace {

// Records every step with its argument; throws from the step named in `failAt`.
class RecordingSteps : public StartupSteps
{
public:
    std::vector<std::string> calls;
    std::string failAt;
    TariffList prices{"-"};
    TariffList games{"-"};

    void hideTaskbarEntry() override { step("hideTaskbarEntry"); }
    void appendOpenToCaption() override { step("appendOpenToCaption"); }
    void setSessionLogPath(const std::string& path) override { step("setSessionLogPath " + path); }
    void createDiscoveryEndpoint() override { step("createDiscoveryEndpoint"); }
    void setBroadcastAddress(int net) override { step("setBroadcastAddress " + std::to_string(net)); }
    void setDiscoveryLocalPort(int port) override { step("setDiscoveryLocalPort " + std::to_string(port)); }
    void setDiscoveryRemotePort(int port) override { step("setDiscoveryRemotePort " + std::to_string(port)); }
    void setResetFlags(bool closeAfterReset, bool waitAfterReset) override
    {
        step("setResetFlags " + std::to_string(closeAfterReset) + std::to_string(waitAfterReset));
    }
    void attachDiscoveryHandler() override { step("attachDiscoveryHandler"); }
    void setListenerPort(int port) override { step("setListenerPort " + std::to_string(port)); }
    void setStationKeepAlive(std::optional<int> seconds) override
    {
        step("setStationKeepAlive " + (seconds ? std::to_string(*seconds) : "system"));
    }
    void setTariffs(TariffList p, TariffList g) override
    {
        prices = std::move(p);
        games = std::move(g);
        step("setTariffs");
    }
    void startListening() override { step("startListening"); }
    void buildCommandMenu() override { step("buildCommandMenu"); }
    void writeHeaderRows() override { step("writeHeaderRows"); }
    void announce() override { step("announce"); }

private:
    void step(const std::string& call)
    {
        calls.push_back(call);
        if (call.substr(0, call.find(' ')) == failAt) {
            if (failAt == "announce")
                throw std::runtime_error("network unreachable");
            throw StartupError(failAt + " failed");
        }
    }
};

class StartupSequence : public ::testing::Test
{
protected:
    std::vector<std::string> fullRun() const
    {
        return {"hideTaskbarEntry",
                "appendOpenToCaption",
                "setSessionLogPath " + m_folder.file("Ostrel.log"),
                "createDiscoveryEndpoint",
                "setBroadcastAddress 1",
                "setDiscoveryLocalPort 5011",
                "setDiscoveryRemotePort 5012",
                "setResetFlags 01",
                "attachDiscoveryHandler",
                "setListenerPort 5013",
                "setStationKeepAlive 30",
                "setTariffs",
                "startListening",
                "buildCommandMenu",
                "writeHeaderRows",
                "announce"};
    }
    // The steps up to and including `last`.
    std::vector<std::string> runUpTo(std::size_t last) const
    {
        auto all = fullRun();
        all.resize(last + 1);
        return all;
    }

    void writeIni(const std::string& server)
    {
        m_folder.write("Ostrel.ini", "[Server]\n" + server + "[Price]\nA=1\n[Game]\nG=2\n");
    }
    std::string dir() const { return m_folder.path().string(); }

    apptest::TempFolder m_folder;
    const std::string m_good =
        "Net=1\nServerUDP=5011\nClientUDP=5012\nCloseAfterReset=0\nServerTCP=5013\nKeepAliveSeconds=30\n";
};

TEST_F(StartupSequence, RunsEveryStepInOrderWithTheConfiguredValues)
{
    writeIni(m_good);
    RecordingSteps steps;
    runStartupSequence(steps, dir());
    EXPECT_EQ(steps.calls, fullRun());
    EXPECT_EQ(steps.prices.lines(), (std::vector<std::string>{"Prices", "A=1"}));
    EXPECT_EQ(steps.games.lines(), (std::vector<std::string>{"Games", "G=2"}));
}

TEST_F(StartupSequence, StopsAtTheFailingStep)
{
    struct Case
    {
        const char* what;
        std::string server; // empty: no Ostrel.ini at all
        std::string failAt;
        std::size_t lastStep; // index in fullRun() of the last step that ran
    };
    const Case cases[] = {
        {"no ini", "", "", 3},
        {"bad Net", "Net=x\nServerUDP=5011\nClientUDP=5012\nServerTCP=5013\n", "", 3},
        {"Net outside the host's list", m_good, "setBroadcastAddress", 4},
        {"bad ServerUDP", "Net=1\nServerUDP=x\nClientUDP=5012\nServerTCP=5013\n", "", 4},
        {"no discovery socket", m_good, "setDiscoveryLocalPort", 5},
        {"bad ClientUDP", "Net=1\nServerUDP=5011\nClientUDP=-1\nServerTCP=5013\n", "", 5},
        {"bad WaitAfterReset", "Net=1\nServerUDP=5011\nClientUDP=5012\nWaitAfterReset=yes\nServerTCP=5013\n", "", 6},
        {"bad ServerTCP", "Net=1\nServerUDP=5011\nClientUDP=5012\nServerTCP=65536\n", "", 8},
        {"bad KeepAliveSeconds", "Net=1\nServerUDP=5011\nClientUDP=5012\nServerTCP=5013\nKeepAliveSeconds=0\n", "", 9},
        {"port in use", m_good, "startListening", 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(m_folder.file("Ostrel.ini"));
        if (!c.server.empty())
            writeIni(c.server);
        RecordingSteps steps;
        steps.failAt = c.failAt;
        EXPECT_THROW(runStartupSequence(steps, dir()), StartupError);
        auto expected = runUpTo(c.lastStep);
        if (c.server.find("CloseAfterReset") == std::string::npos) {
            for (auto& call : expected) // the flags' default
                if (call == "setResetFlags 01")
                    call = "setResetFlags 11";
        }
        EXPECT_EQ(steps.calls, expected);
    }
}

TEST_F(StartupSequence, AFailedAnnouncementIsSwallowed)
{
    writeIni(m_good);
    RecordingSteps steps;
    steps.failAt = "announce";
    EXPECT_NO_THROW(runStartupSequence(steps, dir()));
    EXPECT_EQ(steps.calls, fullRun());
}

TEST(ProcessLimits, TheOpenFileLimitIsRaisedToTheHardLimit)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 64)
        GTEST_SKIP() << "the hard limit leaves no room below it";
    rlimit low = saved;
    low.rlim_cur = 32; // as a desktop session's 1024 would be for thousands of stations
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    raiseOpenFileLimit();
    rlimit now{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &now), 0);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(now.rlim_cur, saved.rlim_max);
}

} // namespace
} // namespace ostrel
