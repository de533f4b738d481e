#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ifaddrs;

namespace ostrel {

using IPv4Address = std::array<std::uint8_t, 4>; // network order: a[0] is the first octet

// One of the host's own IPv4 addresses and the interface that carries it.
struct HostAddress
{
    IPv4Address address{};
    std::string interface;
    bool loopback = false;
    std::optional<IPv4Address> broadcast{}; // the interface's own, by its netmask; none on loopback

    bool operator==(const HostAddress&) const = default;
};

// The address at position `net` (from 0) with its last octet replaced by 255; the subnet mask is
// not consulted. nullopt when `net` lies outside the list.
std::optional<std::string> broadcastAddressFrom(std::span<const IPv4Address> addresses, std::int64_t net);

// Where a wake-up packet for the stations on `host`'s network goes: the interface's own broadcast
// address, as its netmask makes it; the last octet replaced by 255 when the interface has none.
std::string wakeAddressOf(const HostAddress& host);

// The list that `Net` counts, from what getifaddrs returned: the IPv4 addresses of interfaces that
// are up, the salon's (non-loopback) ones first in the system's order, loopback ones last. Host
// names are no guide here: a desktop's name usually maps to 127.0.1.1.
std::vector<HostAddress> hostAddressesFrom(const ifaddrs* interfaces);

// The same for this host's interfaces now; empty when they cannot be read.
std::vector<HostAddress> hostAddresses();

std::vector<IPv4Address> addressesOf(std::span<const HostAddress> hosts);

// One line per address, "<Net>: <address> (<interface>), announces to <broadcast>", for the
// operator choosing `Net`.
std::string addressListText(std::span<const HostAddress> hosts);

// Dotted decimal, each octet without leading zeros.
std::string dottedAddress(const IPv4Address& address);

} // namespace ostrel
