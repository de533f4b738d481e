#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

using IPv4Address = std::array<std::uint8_t, 4>; // network order: a[0] is the first octet

// The address at position `net` (from 0) with its last octet replaced by 255; the subnet mask is
// not consulted. nullopt when `net` lies outside the list.
std::optional<std::string> broadcastAddressFrom(std::span<const IPv4Address> addresses, std::int64_t net);

// The host's own IPv4 addresses, as its name resolves; nullopt when the name cannot be read or
// resolved.
std::optional<std::vector<IPv4Address>> hostIPv4Addresses();

// The discovery announcement's destination for the configured `Net`. A host whose name does not
// resolve announces itself to 7.0.0.255; a `Net` outside its address list gives nullopt, which
// start-up treats as a bad configuration.
std::optional<std::string> broadcastAddressForNet(std::int64_t net);

// Dotted decimal, each octet without leading zeros.
std::string dottedAddress(const IPv4Address& address);

} // namespace ostrel
