#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// A network card's Ethernet address.
using HardwareAddress = std::array<std::uint8_t, 6>;

// "aa:bb:cc:dd:ee:ff" (either case); nullopt for any other form and for 00:00:00:00:00:00, which
// the kernel shows for a neighbour it has not reached.
std::optional<HardwareAddress> parseHardwareAddress(std::string_view text);
std::string hardwareAddressText(const HardwareAddress& address); // lower case, colons

} // namespace ostrel
