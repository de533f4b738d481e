#include "app/ServerConfig.h"

#include "app/StartupError.h"
#include "core/Cp1251.h"

#include "support/AppTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace ostrel {
namespace {

const std::string GoodServer = "[Server]\nNet=0\nServerUDP=5011\nClientUDP=5012\nServerTCP=5013\n";

// The [Server] section with one key replaced, or left out when `value` is null. WarnMinutes goes
// into its own section [Alerts] after it.
std::string serverWith(const std::string& key, const char* value)
{
    if (key == "WarnMinutes")
        return serverWith({}, nullptr) + (value ? std::string("[Alerts]\nWarnMinutes=") + value + "\n" : "");
    if (key == "ReturnSeconds" || key == "ResumeMinutes")
        return serverWith({}, nullptr) + (value ? key + "=" + value + "\n" : "");
    std::string text = "[Server]\n";
    for (const char* k :
         {"Net", "ServerUDP", "ClientUDP", "CloseAfterReset", "WaitAfterReset", "ServerTCP", "KeepAliveSeconds"}) {
        const bool optional = std::string(k).find("Reset") != std::string::npos || k == std::string("KeepAliveSeconds");
        if (k == key) {
            if (value)
                text += std::string(k) + "=" + value + "\n";
        } else if (!optional) {
            text += std::string(k) + "=" + (std::string(k) == "Net" ? "0" : "5000") + "\n";
        }
    }
    return text;
}

// The keys of [Server] that both the sample and a hand-written file set.
void expectServerKeys(const ServerSettings& s, int net, int serverUdp, int clientUdp, bool closeAfterReset,
                      int serverTcp)
{
    EXPECT_EQ(s.net, net);
    EXPECT_EQ(s.serverUdp, serverUdp);
    EXPECT_EQ(s.clientUdp, clientUdp);
    EXPECT_EQ(s.closeAfterReset, closeAfterReset);
    EXPECT_EQ(s.serverTcp, serverTcp);
}

TEST(ServerConfig, ReadsEverySettingOfTheSample)
{
    const auto config =
        ServerConfig::fromText("[Server]\nNet=1\nServerUDP=5011\nClientUDP=5012\nCloseAfterReset=0\n"
                               "WaitAfterReset=1\nServerTCP=5013\nKeepAliveSeconds=30\n[Price]\nИнтернет=1,5\nИгры=2\n"
                               "[Game]\nИгровой=2\n");
    const ServerSettings s = config.settings();
    expectServerKeys(s, 1, 5011, 5012, false, 5013);
    EXPECT_TRUE(s.waitAfterReset);
    EXPECT_EQ(s.keepAliveSeconds, 30);
    const std::vector<std::string> prices{"Prices", utf8ToCp1251("Интернет=1,5"), utf8ToCp1251("Игры=2")};
    EXPECT_EQ(config.prices().lines(), prices);
    const std::vector<std::string> games{"Games", utf8ToCp1251("Игровой=2")};
    EXPECT_EQ(config.games().lines(), games);
}

TEST(ServerConfig, EveryMalformedValueIsAStartupError)
{
    struct Case
    {
        const char* key;
        const char* value; // nullptr: the key is absent
    };
    const Case cases[] = {
        {"Net", nullptr},
        {"Net", ""},
        {"Net", "ERROR"},
        {"Net", "0x1"},
        {"Net", "1,0"},
        {"Net", "99999999999"},
        {"ServerUDP", nullptr},
        {"ServerUDP", "abc"},
        {"ServerUDP", "5011.0"},
        {"ServerUDP", "-1"},
        {"ServerUDP", "65536"},
        {"ClientUDP", nullptr},
        {"ClientUDP", "5 012"},
        {"ClientUDP", "70000"},
        {"ServerTCP", nullptr},
        {"ServerTCP", ""},
        {"ServerTCP", "5013x"},
        {"ServerTCP", "-5013"},
        {"ServerTCP", "100000"},
        {"CloseAfterReset", "yes"},
        {"CloseAfterReset", ""},
        {"CloseAfterReset", "1.0"},
        {"WaitAfterReset", "yes"},
        {"WaitAfterReset", "true"},
        {"KeepAliveSeconds", ""},
        {"KeepAliveSeconds", "30s"},
        {"KeepAliveSeconds", "0"},
        {"KeepAliveSeconds", "-30"},
        {"KeepAliveSeconds", "3601"},
        {"KeepAliveSeconds", "99999999999"},
        {"WarnMinutes", ""},
        {"WarnMinutes", "5m"},
        {"WarnMinutes", "-1"},
        {"WarnMinutes", "1441"},
        {"WarnMinutes", "2,5"},
        {"ReturnSeconds", ""},
        {"ReturnSeconds", "-1"},
        {"ReturnSeconds", "86401"},
        {"ReturnSeconds", "2m"},
        {"ResumeMinutes", "-1"},
        {"ResumeMinutes", "1441"},
        {"ResumeMinutes", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + (c.value ? std::string("\"") + c.value + "\"" : "absent"));
        const auto config = ServerConfig::fromText(serverWith(c.key, c.value));
        try {
            config.settings();
            ADD_FAILURE() << "no StartupError";
        } catch (const StartupError& error) {
            // The cause names the key, so whoever reads stderr knows what to fix.
            EXPECT_NE(std::string(error.what()).find(c.key), std::string::npos) << error.what();
        }
    }
}

TEST(ServerConfig, ReturnAndResumeAreOptionalWithTheirDefaults)
{
    const struct
    {
        const char* key;
        const char* value;
        int returnSeconds;
        int resumeMinutes;
    } cases[] = {
        {"ReturnSeconds", nullptr, 120, 0},   {"ReturnSeconds", "0", 0, 0},       {"ReturnSeconds", "86400", 86400, 0},
        {"ResumeMinutes", "1440", 120, 1440}, {"ResumeMinutes", " 15 ", 120, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + (c.value ? c.value : "absent"));
        const auto s = ServerConfig::fromText(serverWith(c.key, c.value)).settings();
        EXPECT_EQ(s.returnSeconds, c.returnSeconds);
        EXPECT_EQ(s.resumeMinutes, c.resumeMinutes);
    }
}

TEST(ServerConfig, PortsSpanTheWholeRange)
{
    for (const char* port : {"0", "65535", " 5013 ", "+5013"}) {
        SCOPED_TRACE(port);
        EXPECT_NO_THROW(ServerConfig::fromText(serverWith("ServerTCP", port)).settings());
    }
}

TEST(ServerConfig, KeepAliveIsOptionalFromOneSecondToAnHour)
{
    const std::pair<const char*, std::optional<int>> cases[] = {
        {nullptr, std::nullopt}, {"1", 1}, {"30", 30}, {" 3600 ", 3600}, {"+60", 60}};
    for (const auto& [value, seconds] : cases) {
        SCOPED_TRACE(value ? value : "absent");
        EXPECT_EQ(ServerConfig::fromText(serverWith("KeepAliveSeconds", value)).settings().keepAliveSeconds, seconds);
    }
}

TEST(ServerConfig, WarnMinutesIsOptionalAndZeroTurnsWarningsOff)
{
    const std::pair<const char*, int> cases[] = {{nullptr, 5}, {"0", 0}, {"1", 1}, {" 15 ", 15}, {"1440", 1440}};
    for (const auto& [value, minutes] : cases) {
        SCOPED_TRACE(value ? value : "absent");
        EXPECT_EQ(ServerConfig::fromText(serverWith("WarnMinutes", value)).settings().warnMinutes, minutes);
    }
    // Section and key compare without regard to letter case, as everywhere in the file.
    EXPECT_EQ(ServerConfig::fromText(GoodServer + "[ALERTS]\nwarnminutes=7\n").warnMinutes(), 7);
}

TEST(ServerConfig, ResetFlagsAreSetExactlyByOne)
{
    struct Case
    {
        const char* value;
        bool set;
    };
    const Case cases[] = {{nullptr, true}, {"1", true},  {" 1", true},  {"+1", true},
                          {"0", false},    {"2", false}, {"-1", false}, {"11", false}};
    for (const char* key : {"CloseAfterReset", "WaitAfterReset"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(key) + " = " + (c.value ? c.value : "absent"));
            const auto config = ServerConfig::fromText(serverWith(key, c.value));
            const bool flag =
                std::string(key) == "CloseAfterReset" ? config.closeAfterReset() : config.waitAfterReset();
            EXPECT_EQ(flag, c.set);
        }
    }
}

TEST(ServerConfig, NamesIgnoreLetterCaseAndWindowsLineEndingsAndBomAreRead)
{
    const auto config = ServerConfig::fromText("\xEF\xBB\xBF[server]\r\nNET=2\r\nserverudp=1\r\nClientUdp=2\r\n"
                                               "closeafterreset=0\r\nSERVERTCP=3\r\n[PRICE]\r\nНочной=0,8\r\n");
    expectServerKeys(config.settings(), 2, 1, 2, false, 3);
    const std::vector<std::string> prices{"Prices", utf8ToCp1251("Ночной=0,8")};
    EXPECT_EQ(config.prices().lines(), prices);
}

TEST(ServerConfig, TariffListsSkipEmptyValuesAndKeepTheirTitleLines)
{
    const auto config = ServerConfig::fromText(GoodServer + "[Price]\nA=10\nB=\n[Game]\n");
    const std::vector<std::string> prices{"Prices", "A=10"};
    EXPECT_EQ(config.prices().lines(), prices);
    EXPECT_EQ(config.games().lines(), std::vector<std::string>{"Games"});
    EXPECT_EQ(ServerConfig::fromText(GoodServer).games().lines(), std::vector<std::string>{"Games"});
}

TEST(ServerConfig, MissingOrUnreadableFileIsAStartupError)
{
    apptest::TempFolder folder;
    EXPECT_THROW(ServerConfig::load(folder.file("Ostrel.ini")), StartupError);
    std::filesystem::create_directory(folder.path() / "Ostrel.ini"); // a folder cannot be read as a file
    EXPECT_THROW(ServerConfig::load(folder.file("Ostrel.ini")), StartupError);

    const auto path = folder.write("Other.ini", GoodServer);
    EXPECT_EQ(ServerConfig::load(path).serverTcp(), 5013);
}

} // namespace
} // namespace ostrel
