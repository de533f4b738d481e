#include "commands/ResumeSession.h"
#include "support/CommandsTestSupport.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace testing;

struct ResumeFixture : ::testing::Test
{
    FakeTransport transport;
    TariffList prices = tariffList("Prices", {{"Day", "1,5"}, {"Broken", "abc"}});
    TariffList games = tariffList("Games", {{"Quake", "2"}, {"DAY", "7"}});
    StationRow row = stationRow("PC1", "127.0.0.2", words::Free);

    ResumeFixture() { transport.connected = {"127.0.0.2"}; }

    ResumeResult resume(bool wait, std::string_view tariff, std::string_view timeLeft)
    {
        return ResumeSession(ResumeContext{transport, prices, games, wait}, tariff, row, timeLeft);
    }
};

TEST_F(ResumeFixture, RestartsOrWaitsWithTheSameTariff)
{
    const struct
    {
        bool wait;
        std::string tariff;
        CommandCode code;
        double price;
        double time;
    } cases[] = {
        {false, "Day", CommandCode::cmdStartPaid, 1.5, 0},
        {true, "Day", CommandCode::cmdWaitPaid, 1.5, 0},
        {false, "Quake", CommandCode::cmdStartGame, 2, 45 / 1440.0},
        {true, "Quake", CommandCode::cmdWaitGame, 2, 45 / 1440.0},
    };
    for (const auto& c : cases) {
        transport.sent.clear();
        ASSERT_EQ(resume(c.wait, c.tariff, "0:45:00"), ResumeResult::Sent) << c.tariff;
        ASSERT_EQ(transport.sent.size(), 1u);
        EXPECT_EQ(transport.sent[0].address, "127.0.0.2");
        const auto command = transport.lastCommand();
        EXPECT_EQ(command.code, c.code);
        EXPECT_EQ(command.tariff, c.tariff);
        EXPECT_EQ(command.price, c.price);
        EXPECT_EQ(command.time, c.time) << c.tariff;
    }
}

TEST_F(ResumeFixture, PricesMembershipIsCaseSensitive)
{
    // "day" is not a Prices name as written: it is resumed as a game, priced from Games' "DAY".
    ASSERT_EQ(resume(false, "day", "0:10:00"), ResumeResult::Sent);
    const auto command = transport.lastCommand();
    EXPECT_EQ(command.code, CommandCode::cmdStartGame);
    EXPECT_EQ(command.tariff, "day");
    EXPECT_EQ(command.price, 7);
    EXPECT_EQ(command.time, 10 / 1440.0);
}

TEST_F(ResumeFixture, FailuresSendNothing)
{
    prices = tariffList("Prices", {{"Day", "1,5"}, {"Broken", "abc"}, {"Night", "2"}});
    const struct
    {
        std::string tariff;
        std::string timeLeft;
        ResumeResult result;
    } cases[] = {
        {"Quake", "", ResumeResult::TimeUnreadable},    {"Quake", "soon", ResumeResult::TimeUnreadable},
        {"Broken", "", ResumeResult::BadPrice},       // a Prices tariff needs no time, but a number
        {"night", "0:10:00", ResumeResult::BadPrice}, // only in Prices, and only ignoring case
        {"Nowhere", "0:10:00", ResumeResult::BadPrice},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resume(true, c.tariff, c.timeLeft), c.result) << c.tariff;
    EXPECT_TRUE(transport.sent.empty());

    row[ColAddress] = "127.0.0.9";
    EXPECT_EQ(resume(true, "Day", ""), ResumeResult::NoConnection);
    EXPECT_EQ(resume(true, "Quake", ""), ResumeResult::NoConnection); // the connection is looked for first
    EXPECT_TRUE(transport.sent.empty());
}

TEST_F(ResumeFixture, LongNameIsCutOnTheWire)
{
    const std::string longName = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    games.set(longName, "3");
    ASSERT_EQ(resume(false, longName, "1:00:00"), ResumeResult::Sent);
    EXPECT_EQ(transport.lastCommand().tariff, longName.substr(0, 20));
}

} // namespace
} // namespace ostrel
