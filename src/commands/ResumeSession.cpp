#include "commands/ResumeSession.h"

#include "commands/MenuCommand.h"
#include "commands/SendStationCommand.h"
#include "core/TariffList.h"
#include "core/Texts.h"

namespace ostrel {

ResumeResult ResumeSession(const ResumeContext& context, std::string_view tariff, const StationRow& row,
                           std::string_view timeLeft)
{
    if (!context.transport.hasConnection(row[ColAddress]))
        return ResumeResult::NoConnection;
    std::optional<StationCommand> command;
    // Membership is exact and case-sensitive, but the price is then looked up ignoring case: a
    // name that differs from a Prices name only in case is resumed as a game tariff.
    if (context.prices.containsExactly(tariff)) {
        const auto code = context.waitAfterReset ? CommandCode::cmdWaitPaid : CommandCode::cmdStartPaid;
        command = tariffCommand(code, tariff, context.prices);
    } else {
        const auto time = parseTime(timeLeft);
        if (!time)
            return ResumeResult::TimeUnreadable;
        const auto code = context.waitAfterReset ? CommandCode::cmdWaitGame : CommandCode::cmdStartGame;
        command = tariffCommand(code, tariff, context.games, *time);
    }
    if (!command)
        return ResumeResult::BadPrice;
    if (SendStationCommand(context.transport, row, *command) == SendResult::NoConnection)
        return ResumeResult::NoConnection;
    return ResumeResult::Sent;
}

} // namespace ostrel
