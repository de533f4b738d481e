#pragma once

// The constants and small helpers that the station simulator's source files share: its timeouts and
// limits, durations, socket addresses, error texts, epoll tags and the names of commands and states.
// Private to the simulator's sources.

#include "Simulator.h"

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace ostrel::sim {

constexpr std::uint64_t StopTag = ~std::uint64_t{0};
constexpr std::string_view DiscoveryAnswer = "Hi Client";
constexpr std::string_view DiscoveryQuestion = "Hi Server";
constexpr double MaxBackoffSeconds = 10.0;
constexpr auto DiscoveryTimeout = std::chrono::seconds(1);
constexpr auto ConnectTimeout = std::chrono::seconds(3);
constexpr auto SplitPause = std::chrono::milliseconds(50);
// How long a station's own close waits for the server to confirm it has everything, and how often
// a reset looks whether the server's kernel has acknowledged every byte.
constexpr auto CloseConfirmTimeout = std::chrono::seconds(2);
constexpr auto FinalCloseTimeout = std::chrono::seconds(5);
constexpr auto AcknowledgePoll = std::chrono::milliseconds(5);
constexpr auto OneBytePause = std::chrono::milliseconds(2);
// A station whose server does not read keeps at most this much unsent; further reports are skipped.
constexpr std::size_t MaxUnsentBytes = 64 * 1024;
// Reports a late station may catch up on in one go, so that one station cannot starve the others.
constexpr int MaxReportsPerService = 64;

SteadyClock::duration secondsToDuration(double seconds);
sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port);
const sockaddr* asSockaddr(const sockaddr_in& sa);
std::string errorText(int error);
const char* commandName(CommandCode code);
const char* stateName(StatusCode code);
std::uint64_t tagOf(int index, std::uint64_t kind); // an epoll tag: the station and the kind of socket

} // namespace ostrel::sim
