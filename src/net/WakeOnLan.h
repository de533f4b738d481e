#pragma once

#include "core/HardwareAddress.h"

#include <netinet/in.h>

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
// from one socket; true for each datagram the system took. No send waits for room in the socket's
// buffer (the caller is the network thread): a packet that finds it full is reported as not sent.
std::vector<bool> sendMagicPackets(std::span<const HardwareAddress> hardware, const std::string& broadcast,
                                   std::uint16_t port = WakePort);
// The same on the datagram socket `fd`, to `to`, or to the socket's own peer when `to` is null.
std::vector<bool> sendMagicPacketsOn(int fd, std::span<const HardwareAddress> hardware, const sockaddr_in* to);

} // namespace ostrel
