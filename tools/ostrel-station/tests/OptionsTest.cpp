#include "Options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace ostrel::sim;

TEST(StationOptions, StationAddressesSkipNetworkAndBroadcastOctetsAndStopAt127_0_254_254)
{
    const std::uint32_t first = *parseIpv4("127.0.0.2");
    const struct
    {
        int index;
        const char* expected;
    } cases[] = {{0, "127.0.0.2"},
                 {1, "127.0.0.3"},
                 {252, "127.0.0.254"},
                 {253, "127.0.1.1"},
                 {506, "127.0.1.254"},
                 {507, "127.0.2.1"},
                 {254 * 255 - 2, "127.0.254.254"}};
    for (const auto& c : cases)
        EXPECT_EQ(formatIpv4(*stationAddress(first, c.index)), c.expected) << c.index;
    EXPECT_FALSE(stationAddress(first, 254 * 255 - 1));
    EXPECT_FALSE(stationAddress(first, -1));
    EXPECT_FALSE(stationAddress(*parseIpv4("10.0.0.2"), 0)); // never off the loopback net
    EXPECT_FALSE(stationAddress(*parseIpv4("127.0.0.0"), 0));
}

TEST(StationOptions, ParsesDottedAddressesStrictly)
{
    EXPECT_EQ(parseIpv4("127.0.0.1"), 0x7F000001u);
    for (const char* bad :
         {"", "127.0.0", "127.0.0.1.5", "127.0.0.256", "127..0.1", "a.b.c.d", "127.0.0.1 ", "127.0.0.1."})
        EXPECT_FALSE(parseIpv4(bad)) << bad;
}

TEST(StationOptions, ReadsTheServerPortsOfAnIniFile)
{
    const IniPorts ports = readIniPorts("\xEF\xBB\xBF; sample\r\n[Price]\r\nServerTCP=1\r\n[server]\r\n"
                                        "Net=0\r\n serverudp = 5014 \r\nClientUDP=5015\r\nServerTCP=5013\r\n"
                                        "ServerTCP=9\r\n[Game]\r\nClientUDP=7\r\n");
    EXPECT_EQ(ports.serverTcp, 5013);
    EXPECT_EQ(ports.serverUdp, 5014);
    EXPECT_EQ(ports.clientUdp, 5015);
    EXPECT_FALSE(readIniPorts("[Server]\nServerTCP=ERROR\nServerUDP=70000\n").serverTcp);
    EXPECT_FALSE(readIniPorts("[Server]\nServerUDP=70000\n").serverUdp);
}

TEST(StationOptions, FlagsOverrideTheIniFileAndMissingPortsAreRefused)
{
    const std::string path = ::testing::TempDir() + "station_options.ini";
    {
        std::ofstream ini(path);
        ini << "[Server]\nServerTCP=5013\nServerUDP=5014\nClientUDP=5015\n";
    }
    ParsedOptions parsed = parseOptions({"--ini", path, "--tcp-port", "6000", "--stations", "3", "--rate", "2,5"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->tcpPort, 6000);
    EXPECT_EQ(parsed.options->udpPort, 5014);
    EXPECT_EQ(parsed.options->clientUdpPort, 5015);
    EXPECT_TRUE(parsed.options->discovery);
    EXPECT_EQ(parsed.options->stations, 3);
    EXPECT_DOUBLE_EQ(parsed.options->rate, 2.5);
    std::remove(path.c_str());

    parsed = parseOptions({"--server", "127.0.0.1", "--port", "5013"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->discovery);

    const std::vector<std::vector<std::string>> refused = {
        {},                                          // no port at all
        {"--tcp-port", "5013"},                      // discovery without its ports
        {"--server", "localhost", "--port", "5013"}, // names are not looked up
        {"--server", "127.0.0.1", "--port", "0"},
        {"--server", "127.0.0.1", "--port", "5013", "--rate", "nan"},
        {"--server", "127.0.0.1", "--port", "5013", "--stations", "70000"},
        {"--server", "127.0.0.1", "--port", "5013", "--garbage", "1.5"},
        {"--server", "127.0.0.1", "--port", "5013", "--first-address", "192.168.0.2"},
        {"--server", "127.0.0.1", "--port", "5013", "--customer-delay", "9:3"},
        {"--server", "127.0.0.1", "--port", "5013", "--bogus"},
        {"--server", "127.0.0.1", "--port"},
        {"--ini", "/nonexistent/Ostrel.ini"},
    };
    for (const auto& args : refused) {
        const ParsedOptions p = parseOptions(args);
        EXPECT_FALSE(p.options) << (args.empty() ? std::string("(none)") : args.back());
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_TRUE(parseOptions({"--help"}).help);
}

TEST(StationOptions, ScriptStepsAndTheirErrors)
{
    std::string error;
    const auto steps = parseScript(
        "# faults\n1 drop 2\n2.5 drop all\n3 split on\n4 garbage 0.1\n5 one-byte off\n9 stop\n"
        "10 local all 5 2 45 \xD0\x98\xD0\xB3\xD1\x80\xD0\xB0 \xD0\xBD\xD0\xBE\xD1\x87\xD1\x8C\n" // UTF-8 "Игра ночь"
        "11 local 3 102 # reboot\n",
        error);
    ASSERT_TRUE(steps) << error;
    ASSERT_EQ(steps->size(), 8u);
    EXPECT_EQ((*steps)[0].action, ScriptStep::Action::Drop);
    EXPECT_EQ((*steps)[0].argument, 2);
    EXPECT_EQ((*steps)[1].argument, 0);
    EXPECT_DOUBLE_EQ((*steps)[1].atSeconds, 2.5);
    EXPECT_EQ((*steps)[2].action, ScriptStep::Action::Split);
    EXPECT_EQ((*steps)[2].argument, 1);
    EXPECT_DOUBLE_EQ((*steps)[3].argument, 0.1);
    EXPECT_EQ((*steps)[5].action, ScriptStep::Action::Stop);
    const ScriptStep& game = (*steps)[6];
    EXPECT_EQ(game.action, ScriptStep::Action::Local);
    EXPECT_EQ(game.argument, 0);
    EXPECT_EQ(game.command.code, ostrel::CommandCode::cmdStartGame);
    EXPECT_DOUBLE_EQ(game.command.price, 2);
    EXPECT_DOUBLE_EQ(game.command.time, 45.0 / 1440.0);
    EXPECT_EQ(game.command.tariff, "\xC8\xE3\xF0\xE0 \xED\xEE\xF7\xFC"); // Windows-1251, blank kept
    EXPECT_EQ((*steps)[7].argument, 3);
    EXPECT_EQ((*steps)[7].command.code, ostrel::CommandCode::cmdReboot);
    const auto commented = parseScript("1 local 1 2 1,5 0 A#1   # the A#1 tariff\n", error);
    ASSERT_TRUE(commented) << error;
    EXPECT_EQ((*commented)[0].command.tariff, "A#1");

    const auto unordered = parseScript("5 stop\n1 split on\n1 split off\n", error);
    ASSERT_TRUE(unordered);
    EXPECT_EQ((*unordered)[0].argument, 1); // by time, ties in line order
    EXPECT_EQ((*unordered)[1].argument, 0);
    EXPECT_EQ((*unordered)[2].action, ScriptStep::Action::Stop);

    for (const char* bad : {"x drop\n", "-1 stop\n", "1 split maybe\n", "1 garbage 2\n", "1 explode\n", "1 drop -3\n",
                            "1 local x 2\n", "1 local 1\n", "1 local 1 2 abc\n"}) {
        error.clear();
        EXPECT_FALSE(parseScript(bad, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << bad;
    }
}
