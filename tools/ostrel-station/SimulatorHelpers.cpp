// The simulator's small helpers: durations, socket addresses, error texts, epoll tags and the
// names of commands and states, for its event log.

#include "SimulatorHelpers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace ostrel::sim {

SteadyClock::duration secondsToDuration(double seconds)
{
    if (!(seconds > 0))
        return SteadyClock::duration::zero();
    return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(std::min(seconds, 1e7)));
}

sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

const sockaddr* asSockaddr(const sockaddr_in& sa)
{
    return reinterpret_cast<const sockaddr*>(&sa);
}

std::string errorText(int error)
{
    return std::strerror(error);
}

const char* commandName(CommandCode code)
{
    switch (code) {
    case CommandCode::cmdFree:
        return "cmdFree";
    case CommandCode::cmdBlock:
        return "cmdBlock";
    case CommandCode::cmdStartPaid:
        return "cmdStartPaid";
    case CommandCode::cmdWaitPaid:
        return "cmdWaitPaid";
    case CommandCode::cmdStartGame:
        return "cmdStartGame";
    case CommandCode::cmdWaitGame:
        return "cmdWaitGame";
    case CommandCode::cmdKillApps:
        return "cmdKillApps";
    case CommandCode::cmdReboot:
        return "cmdReboot";
    case CommandCode::cmdPowerOff:
        return "cmdPowerOff";
    case CommandCode::cmdLogOff:
        return "cmdLogOff";
    default:
        return "unknown";
    }
}

const char* stateName(StatusCode code)
{
    switch (code) {
    case StatusCode::Unloaded:
        return "unloaded";
    case StatusCode::Closed:
        return "closed";
    case StatusCode::Running:
        return "running";
    case StatusCode::Finished:
        return "finished";
    case StatusCode::WaitingPaid:
        return "waiting";
    case StatusCode::RunningWithAllowance:
        return "running game";
    case StatusCode::WaitingGame:
        return "waiting game";
    }
    return "?";
}

std::uint64_t tagOf(int index, std::uint64_t kind)
{
    return static_cast<std::uint64_t>(index) * 4 + kind;
}

} // namespace ostrel::sim
