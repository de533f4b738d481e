#include "StationModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using namespace ostrel;
using namespace ostrel::sim;

namespace {

constexpr double T0 = 46'000.5; // a day number at noon
constexpr double Minute = 1.0 / 1440.0;
constexpr std::int32_t code(StatusCode c)
{
    return static_cast<std::int32_t>(c);
}

StationCommand command(CommandCode c, std::string tariff = {}, double price = 0, double time = 0)
{
    return StationCommand{c, std::move(tariff), price, time};
}

StationModelSettings fixedDelay(double minutes)
{
    StationModelSettings settings;
    settings.customerDelayMin = settings.customerDelayMax = minutes * Minute;
    return settings;
}

// What a report tells of the session on the station.
void expectSession(const StationReport& report, StatusCode state, const std::string& tariff, double start,
                   double finish, double price)
{
    EXPECT_EQ(report.statusCode, code(state));
    EXPECT_EQ(report.statusText, tariff);
    EXPECT_DOUBLE_EQ(report.start, start);
    EXPECT_DOUBLE_EQ(report.finish, finish);
    EXPECT_DOUBLE_EQ(report.price, price);
}

} // namespace

TEST(StationModel, EachCommandFromClosedLeadsToItsReportedState)
{
    struct Case
    {
        CommandCode command;
        StatusCode reported;
        MachineAction action;
    };
    const Case cases[] = {
        {CommandCode::cmdFree, StatusCode::Unloaded, MachineAction::None},
        {CommandCode::cmdBlock, StatusCode::Closed, MachineAction::None},
        {CommandCode::cmdStartPaid, StatusCode::Running, MachineAction::None},
        {CommandCode::cmdWaitPaid, StatusCode::WaitingPaid, MachineAction::None},
        {CommandCode::cmdStartGame, StatusCode::RunningWithAllowance, MachineAction::None},
        {CommandCode::cmdWaitGame, StatusCode::WaitingGame, MachineAction::None},
        {CommandCode::cmdKillApps, StatusCode::Closed, MachineAction::None},
        {CommandCode::cmdReboot, StatusCode::Closed, MachineAction::Reboot},
        {CommandCode::cmdPowerOff, StatusCode::Closed, MachineAction::PowerOff},
        {CommandCode::cmdLogOff, StatusCode::Closed, MachineAction::LogOff},
        {static_cast<CommandCode>(7), StatusCode::Closed, MachineAction::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.command));
        StationModel model(fixedDelay(10));
        EXPECT_EQ(model.nextReport(T0).statusCode, code(StatusCode::Closed));
        EXPECT_EQ(model.apply(command(c.command, "Tariff", 2.5, 60 * Minute), T0), c.action);
        EXPECT_EQ(model.nextReport(T0).statusCode, code(c.reported));
        EXPECT_FALSE(model.hasPendingFinish());
    }
}

TEST(StationModel, PaidSessionReportsTariffPriceAndAdvancingFinish)
{
    StationModel model;
    model.apply(command(CommandCode::cmdStartPaid, "\xD7\xE0\xF1", 1.5), T0); // "Час" in Windows-1251
    const StationReport later = model.nextReport(T0 + 30 * Minute);
    expectSession(later, StatusCode::Running, "\xD7\xE0\xF1", T0, T0 + 30 * Minute, 1.5);
    EXPECT_DOUBLE_EQ(later.allowance, 0);

    // Another paid tariff changes the price of the same session.
    model.apply(command(CommandCode::cmdStartPaid, "Night", 0.5), T0 + 40 * Minute);
    const StationReport changed = model.nextReport(T0 + 41 * Minute);
    EXPECT_EQ(changed.statusText, "Night");
    EXPECT_DOUBLE_EQ(changed.start, T0);
    EXPECT_DOUBLE_EQ(changed.price, 0.5);
}

TEST(StationModel, EndingASessionByCommandReportsItFinishedOnceThenTheNewState)
{
    const struct
    {
        CommandCode ending;
        StatusCode after;
    } cases[] = {
        {CommandCode::cmdFree, StatusCode::Unloaded},
        {CommandCode::cmdBlock, StatusCode::Closed},
        {CommandCode::cmdWaitPaid, StatusCode::WaitingPaid},
        {CommandCode::cmdStartGame, StatusCode::RunningWithAllowance},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.ending));
        StationModel model(fixedDelay(10));
        model.apply(command(CommandCode::cmdStartPaid, "Hour", 2), T0);
        model.apply(command(c.ending, "Other", 3, 60 * Minute), T0 + 90 * Minute);
        ASSERT_TRUE(model.hasPendingFinish());
        const StationReport finished = model.nextReport(T0 + 91 * Minute);
        expectSession(finished, StatusCode::Finished, "Hour", T0, T0 + 90 * Minute, 2);
        EXPECT_EQ(model.nextReport(T0 + 91 * Minute).statusCode, code(c.after));
    }
}

TEST(StationModel, GameRunsOutOfItsAllowanceThenReportsFinishedOnceAndClosed)
{
    StationModel model;
    model.apply(command(CommandCode::cmdStartGame, "Game", 1, 90 * Minute), T0);
    ASSERT_TRUE(model.nextEventTime());
    EXPECT_DOUBLE_EQ(*model.nextEventTime(), T0 + 90 * Minute);

    const StationReport running = model.nextReport(T0 + 30 * Minute);
    EXPECT_EQ(running.statusCode, code(StatusCode::RunningWithAllowance));
    EXPECT_DOUBLE_EQ(running.allowance, 90 * Minute);
    EXPECT_DOUBLE_EQ(running.price, 1);

    // Reported late: the finish is the end of the allowance, not the time of the report.
    const StationReport finished = model.nextReport(T0 + 100 * Minute);
    EXPECT_EQ(finished.statusCode, code(StatusCode::Finished));
    EXPECT_DOUBLE_EQ(finished.finish, T0 + 90 * Minute);
    EXPECT_DOUBLE_EQ(finished.allowance, 90 * Minute);
    EXPECT_EQ(model.nextReport(T0 + 100 * Minute).statusCode, code(StatusCode::Closed));
    EXPECT_EQ(model.nextReport(T0 + 101 * Minute).statusCode, code(StatusCode::Closed));
    EXPECT_FALSE(model.nextEventTime());
}

TEST(StationModel, NewGameLengthKeepsTheStartAndMayEndTheGameAtOnce)
{
    StationModel model;
    model.apply(command(CommandCode::cmdStartGame, "Game", 1, 60 * Minute), T0);
    model.apply(command(CommandCode::cmdStartGame, "Game", 1, 120 * Minute), T0 + 50 * Minute);
    StationReport report = model.nextReport(T0 + 70 * Minute);
    EXPECT_EQ(report.statusCode, code(StatusCode::RunningWithAllowance));
    EXPECT_DOUBLE_EQ(report.start, T0);
    EXPECT_DOUBLE_EQ(report.allowance, 120 * Minute);

    model.apply(command(CommandCode::cmdStartGame, "Game", 1, 30 * Minute), T0 + 80 * Minute);
    report = model.nextReport(T0 + 80 * Minute);
    EXPECT_EQ(report.statusCode, code(StatusCode::Finished));
    EXPECT_DOUBLE_EQ(report.finish, T0 + 30 * Minute);
}

TEST(StationModel, WaitingStationStartsWithTheRememberedTariffWhenTheCustomerComes)
{
    StationModel paid(fixedDelay(5));
    paid.apply(command(CommandCode::cmdWaitPaid, "Hour", 2), T0);
    EXPECT_EQ(paid.nextReport(T0 + 4 * Minute).statusCode, code(StatusCode::WaitingPaid));
    StationReport report = paid.nextReport(T0 + 6 * Minute);
    EXPECT_EQ(report.statusCode, code(StatusCode::Running));
    EXPECT_EQ(report.statusText, "Hour");
    EXPECT_NEAR(report.start, T0 + 5 * Minute, 1e-9);
    EXPECT_DOUBLE_EQ(report.price, 2);

    StationModel game(fixedDelay(5));
    game.apply(command(CommandCode::cmdWaitGame, "Game", 1, 45 * Minute), T0);
    EXPECT_EQ(game.nextReport(T0).statusCode, code(StatusCode::WaitingGame));
    report = game.nextReport(T0 + 10 * Minute);
    EXPECT_EQ(report.statusCode, code(StatusCode::RunningWithAllowance));
    EXPECT_DOUBLE_EQ(report.allowance, 45 * Minute);
}

TEST(StationModel, RandomCustomerDelayStaysWithinItsRange)
{
    StationModelSettings settings;
    settings.customerDelayMin = 2 * Minute;
    settings.customerDelayMax = 3 * Minute;
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        settings.seed = seed;
        StationModel model(settings);
        model.apply(command(CommandCode::cmdWaitPaid, "Hour", 2), T0);
        ASSERT_TRUE(model.nextEventTime());
        EXPECT_GE(*model.nextEventTime(), T0 + 2 * Minute - 1e-12);
        EXPECT_LE(*model.nextEventTime(), T0 + 3 * Minute + 1e-12);
    }
}

TEST(StationModel, RestartCutsTheSessionWithoutAFinishedReport)
{
    StationModel model;
    model.apply(command(CommandCode::cmdStartPaid, "Hour", 2), T0);
    model.apply(command(CommandCode::cmdFree), T0 + Minute); // leaves a finished report pending
    model.apply(command(CommandCode::cmdStartGame, "Game", 1, Minute * 10), T0 + 2 * Minute);
    model.restart();
    EXPECT_FALSE(model.hasPendingFinish());
    const StationReport report = model.nextReport(T0 + 3 * Minute);
    EXPECT_EQ(report.statusCode, code(StatusCode::Closed));
    EXPECT_TRUE(report.statusText.empty());
    EXPECT_EQ(report.start, 0);
}

TEST(StationModel, NonFiniteFiguresFromTheWireAreNotReportedBack)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    StationModel model;
    model.apply(command(CommandCode::cmdStartGame, "Game", nan, inf), T0);
    const StationReport report = model.nextReport(T0 + Minute);
    EXPECT_EQ(report.price, 0);
    // An endless allowance is no allowance: the game ends at once rather than never.
    EXPECT_EQ(report.statusCode, code(StatusCode::Finished));
    EXPECT_TRUE(std::isfinite(report.allowance));
}

TEST(StationModel, ReportBytesCarryTheFieldsAtTheirOffsets)
{
    StationModel model;
    model.apply(command(CommandCode::cmdStartGame, "Game", 1.5, 0.0625), T0);
    const auto bytes = encodeStationReport(model.nextReport(T0 + Minute));
    const auto f64 = [&](std::size_t offset) {
        double x = 0;
        std::memcpy(&x, bytes.data() + offset, sizeof x);
        return x;
    };
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 'H');
    EXPECT_EQ(bytes[2], 'I');
    EXPECT_EQ(bytes[24], 5);
    EXPECT_EQ(bytes[32], 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 33, 4), "Game");
    EXPECT_DOUBLE_EQ(f64(56), T0);
    EXPECT_DOUBLE_EQ(f64(64), T0 + Minute);
    EXPECT_DOUBLE_EQ(f64(72), 1.5);
    EXPECT_DOUBLE_EQ(f64(80), 0.0625);
}
