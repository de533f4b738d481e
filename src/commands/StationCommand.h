#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

inline constexpr std::size_t StationCommandSize = 48;

enum class CommandCode : std::int32_t
{
    cmdFree = 0,
    cmdBlock = 1,
    cmdStartPaid = 2,
    cmdWaitPaid = 3,
    cmdStartGame = 5,
    cmdWaitGame = 6,
    cmdKillApps = 101,
    cmdReboot = 102,
    cmdPowerOff = 103,
    cmdLogOff = 105,
};

// What the server asks of a station: 48 bytes, little-endian, zero wherever a field is unused.
struct StationCommand
{
    CommandCode code = CommandCode::cmdFree; // offset 4
    std::string tariff;                      // offset 8, short string of capacity 20, Windows-1251
    double price = 0;                        // offset 32
    double time = 0;                         // offset 40, days
};

using CommandBytes = std::array<std::uint8_t, StationCommandSize>;

CommandBytes encodeStationCommand(const StationCommand& command);

// The reverse, for the simulator and the tests; nullopt without the "HI" signature.
std::optional<StationCommand> decodeStationCommand(const CommandBytes& bytes);

} // namespace ostrel
