#include "app/CommandAuditTrail.h"

#include "commands/MenuCommand.h"
#include "log/AuditTexts.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditTrail.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace ostrel {

namespace {

std::string commandWords(CommandCode code)
{
    switch (code) {
    case CommandCode::cmdFree:
        return std::string(menu::Free);
    case CommandCode::cmdBlock:
        return std::string(menu::Block);
    case CommandCode::cmdStartPaid:
        return std::string(audit::StartPaid);
    case CommandCode::cmdWaitPaid:
        return std::string(audit::WaitPaid);
    case CommandCode::cmdStartGame:
        return std::string(audit::StartGame);
    case CommandCode::cmdWaitGame:
        return std::string(audit::WaitGame);
    case CommandCode::cmdKillApps:
        return std::string(menu::KillApps);
    case CommandCode::cmdReboot:
        return std::string(menu::Reboot);
    case CommandCode::cmdPowerOff:
        return std::string(menu::PowerOff);
    case CommandCode::cmdLogOff:
        return std::string(menu::LogOff);
    }
    return std::string(audit::OtherCommand) + std::to_string(static_cast<std::int32_t>(code));
}

bool carriesTariff(CommandCode code)
{
    return code == CommandCode::cmdStartPaid || code == CommandCode::cmdWaitPaid || code == CommandCode::cmdStartGame ||
           code == CommandCode::cmdWaitGame;
}

AuditResult auditResult(SendResult result)
{
    switch (result) {
    case SendResult::Sent:
        return AuditResult::Sent;
    case SendResult::NoConnection:
        return AuditResult::NoConnection;
    case SendResult::NotDelivered:
        break;
    }
    return AuditResult::NotDelivered;
}

} // namespace

void CommandAuditTrail::record(std::string_view address, const StationCommand& command, SendResult result,
                               CommandOrigin origin)
{
    AuditEntry entry;
    entry.automatic = origin == CommandOrigin::Server;
    entry.at = m_hooks.clock ? m_hooks.clock() : nowDayNumber();
    entry.address = std::string(address);
    entry.result = auditResult(result);
    if (m_hooks.stationName)
        entry.station = m_hooks.stationName(address);
    entry.command = commandWords(command.code);
    if (carriesTariff(command.code)) {
        entry.tariff = command.tariff;
        entry.price = command.price;
    }
    // The wire carries days; a game's interval was whole minutes.
    const double minutes = std::round(command.time * MinutesPerDay);
    if (command.time != 0 && std::isfinite(minutes) && std::abs(minutes) < 1e9)
        entry.minutes = static_cast<int>(minutes);
    if (!m_hooks.mayWriteHere || m_hooks.mayWriteHere())
        m_trail.append(entry);
    else
        m_trail.appendLater(std::move(entry));
}

} // namespace ostrel
