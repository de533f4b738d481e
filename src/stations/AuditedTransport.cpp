#include "stations/AuditedTransport.h"

#include "commands/MenuCommand.h"
#include "commands/StationCommand.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditTexts.h"
#include "log/AuditTrail.h"

#include <algorithm>
#include <cmath>

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

AuditedTransport::AuditedTransport(CommandTransport& inner, AuditTrail& trail, Hooks hooks)
    : m_inner(inner), m_trail(trail), m_hooks(std::move(hooks))
{}

SendResult AuditedTransport::sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes)
{
    return m_inner.sendWithOutcome(address, bytes, recording(address, bytes, nullptr));
}

SendResult AuditedTransport::sendWithOutcome(std::string_view address, std::span<const std::uint8_t> bytes,
                                             SendDone done)
{
    return m_inner.sendWithOutcome(address, bytes, recording(address, bytes, std::move(done)));
}

void AuditedTransport::postToAddress(std::string address, std::vector<std::uint8_t> bytes, SendDone done)
{
    SendDone wrapped = recording(address, bytes, std::move(done));
    m_inner.postToAddress(std::move(address), std::move(bytes), std::move(wrapped));
}

bool AuditedTransport::hasConnection(std::string_view address) const
{
    return m_inner.hasConnection(address);
}

void AuditedTransport::notConnected(std::string_view address, std::span<const std::uint8_t> bytes)
{
    record(std::string(address), std::vector<std::uint8_t>(bytes.begin(), bytes.end()), SendResult::NoConnection);
}

CommandTransport::SendDone AuditedTransport::recording(std::string_view address, std::span<const std::uint8_t> bytes,
                                                       SendDone done)
{
    return [this, address = std::string(address), bytes = std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
            done = std::move(done)](SendResult result) {
        record(address, bytes, result);
        if (done)
            done(result);
    };
}

void AuditedTransport::record(const std::string& address, const std::vector<std::uint8_t>& bytes, SendResult result)
{
    AuditEntry entry;
    entry.at = m_hooks.clock ? m_hooks.clock() : nowDayNumber();
    entry.address = address;
    entry.result = auditResult(result);
    if (m_hooks.stationName)
        entry.station = m_hooks.stationName(address);
    std::optional<StationCommand> command;
    if (bytes.size() == StationCommandSize) {
        CommandBytes record{};
        std::ranges::copy(bytes, record.begin());
        command = decodeStationCommand(record);
    }
    if (command) {
        entry.command = commandWords(command->code);
        if (carriesTariff(command->code)) {
            entry.tariff = command->tariff;
            entry.price = command->price;
        }
        // The wire carries days; a game's interval was whole minutes.
        const double minutes = std::round(command->time * MinutesPerDay);
        if (command->time != 0 && std::isfinite(minutes) && std::abs(minutes) < 1e9)
            entry.minutes = static_cast<int>(minutes);
    } else {
        entry.command = std::string(audit::OtherCommand) + "?";
    }
    if (!m_hooks.mayWriteHere || m_hooks.mayWriteHere())
        m_trail.append(entry);
    else
        m_trail.appendLater(std::move(entry));
}

} // namespace ostrel
