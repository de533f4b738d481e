#include "commands/ShutdownNotes.h"

#include <chrono>
#include <iterator>
#include <utility>

namespace ostrel {

namespace {

bool sendsAway(CommandCode code)
{
    return code == CommandCode::cmdReboot || code == CommandCode::cmdPowerOff || code == CommandCode::cmdLogOff;
}

// Entries past the minute are dropped once the map holds more than this many addresses.
constexpr std::size_t PruneAbove = 256;

} // namespace

bool endsTheSession(CommandCode code)
{
    return code == CommandCode::cmdPowerOff || code == CommandCode::cmdLogOff;
}

ShutdownNotes::ShutdownNotes(Clock clock) : m_clock(std::move(clock)) {}

double ShutdownNotes::now() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void ShutdownNotes::record(std::string_view address, const StationCommand& command, SendResult result,
                           CommandOrigin /*origin*/)
{
    // A command that did not go out whole closed the connection itself: that drop is a failure.
    if (result != SendResult::Sent || !sendsAway(command.code))
        return;
    const double at = now();
    std::scoped_lock hold(m_lock);
    if (m_sent.size() > PruneAbove) {
        for (auto it = m_sent.begin(); it != m_sent.end();)
            it = at - it->second.at >= DropWithinSeconds ? m_sent.erase(it) : std::next(it);
    }
    m_sent.insert_or_assign(std::string(address), Sent{command.code, at});
}

std::optional<CommandCode> ShutdownNotes::sentAway(std::string_view address) const
{
    const double at = now();
    std::scoped_lock hold(m_lock);
    const auto it = m_sent.find(std::string(address));
    if (it == m_sent.end() || at - it->second.at >= DropWithinSeconds)
        return std::nullopt;
    return it->second.code;
}

void ShutdownNotes::cameBack(std::string_view address)
{
    std::scoped_lock hold(m_lock);
    m_sent.erase(std::string(address));
}

} // namespace ostrel
