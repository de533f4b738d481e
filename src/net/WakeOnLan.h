#pragma once

#include "stations/KnownStations.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

inline constexpr std::size_t MagicPacketSize = 6 + 16 * 6;
inline constexpr std::uint16_t WakePort = 9; // discard: nothing on the sleeping machine answers

// What a network card that sleeps with wake-on-LAN armed watches for: six bytes 0xFF, then its
// own hardware address sixteen times.
std::array<std::uint8_t, MagicPacketSize> magicPacket(const HardwareAddress& hardware);

// Sends each one's packet in a UDP datagram of its own to `broadcast` (dotted IPv4) at `port`,
// from one socket; true for each datagram the system took. A send waits a short moment at most
// for room in the socket's buffer, so a whole hall fits without holding the calling thread long.
std::vector<bool> sendMagicPackets(std::span<const HardwareAddress> hardware, const std::string& broadcast,
                                   std::uint16_t port = WakePort);

} // namespace ostrel
