#pragma once

#include "commands/StationCommand.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::sim {

// One timed step of a --script file: "SECONDS ACTION [ARGUMENT...]", seconds from the start.
struct ScriptStep
{
    enum class Action
    {
        Drop,    // argument: a station number from 1, or 0 for all stations
        Split,   // argument: 1 on, 0 off
        OneByte, // argument: 1 on, 0 off
        Garbage, // argument: the probability
        Stop,
        Local,    // a command given at the station itself; argument: the station number, 0 for all
        PowerCut, // argument: the station number, 0 for all
    };
    double atSeconds = 0;
    Action action = Action::Stop;
    double argument = 0;
    StationCommand command; // for Local; the tariff in Windows-1251
};

struct SimulatorOptions
{
    // Where the server is: found by discovery through this address, or given with --server.
    bool discovery = true;
    std::string discoverAddress = "127.0.0.1";
    std::string serverAddress;
    std::uint16_t tcpPort = 0;
    std::uint16_t udpPort = 0;       // the server's discovery port (ServerUDP)
    std::uint16_t clientUdpPort = 0; // where a station hears the answer (ClientUDP)

    int stations = 1;
    std::string firstAddress = "127.0.0.2";
    double rate = 1.0;          // reports per second per station
    double speed = 1.0;         // station clock runs this many times faster than the wall clock
    double durationSeconds = 0; // 0: until Ctrl-C

    // Faults.
    bool split = false;
    bool oneByte = false;
    double garbage = 0;
    double dropAfterSeconds = 0;

    bool load = false;
    bool summary = false;
    bool logCommands = false;
    bool quiet = false;
    std::vector<ScriptStep> script;

    // Real seconds before a station comes back.
    double rebootSeconds = 3;
    double logOffSeconds = 2;
    double powerOffSeconds = 20;
    // Station-clock seconds before a waiting station's customer starts, drawn uniformly.
    double customerMinSeconds = 5;
    double customerMaxSeconds = 30;
    std::uint32_t seed = 0; // 0: from the clock
};

struct ParsedOptions
{
    std::optional<SimulatorOptions> options; // nullopt with an error, or when help was asked for
    bool help = false;
    std::string error;
};

ParsedOptions parseOptions(const std::vector<std::string>& args);
std::string helpText();

// The ports of section [Server] of an Ostrel.ini text; a missing or bad key stays nullopt.
struct IniPorts
{
    std::optional<std::uint16_t> serverTcp;
    std::optional<std::uint16_t> serverUdp;
    std::optional<std::uint16_t> clientUdp;
};
IniPorts readIniPorts(std::string_view iniText);

// nullopt for a malformed script; `error` then says which line.
std::optional<std::vector<ScriptStep>> parseScript(std::string_view text, std::string& error);

// Host-order IPv4 address of station `index` (from 0), counting up from `first` and skipping
// addresses whose last octet is 0 or 255; nullopt beyond 127.0.254.254 or for a non-loopback `first`
// whose sequence would leave its /8.
std::optional<std::uint32_t> stationAddress(std::uint32_t first, int index);

std::optional<std::uint32_t> parseIpv4(std::string_view text); // host order
std::string formatIpv4(std::uint32_t address);                 // host order

} // namespace ostrel::sim
