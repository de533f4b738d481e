#include "net/BroadcastAddress.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace ostrel {

std::string dottedAddress(const IPv4Address& address)
{
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i)
            text += '.';
        text += std::to_string(address[i]);
    }
    return text;
}

std::optional<std::string> broadcastAddressFrom(std::span<const IPv4Address> addresses, std::int64_t net)
{
    if (net < 0 || static_cast<std::uint64_t>(net) >= addresses.size())
        return std::nullopt;
    IPv4Address address = addresses[static_cast<std::size_t>(net)];
    address[3] = 255;
    return dottedAddress(address);
}

std::string wakeAddressOf(const HostAddress& host)
{
    if (host.broadcast)
        return dottedAddress(*host.broadcast);
    return *broadcastAddressFrom(std::span(&host.address, 1), 0);
}

std::vector<HostAddress> hostAddressesFrom(const ifaddrs* interfaces)
{
    std::vector<HostAddress> hosts;
    for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP))
            continue;
        sockaddr_in in{};
        std::memcpy(&in, i->ifa_addr, sizeof in);
        HostAddress host;
        std::memcpy(host.address.data(), &in.sin_addr.s_addr, host.address.size());
        host.interface = i->ifa_name ? i->ifa_name : "";
        // A 127.x address announces to nobody, whichever interface carries it.
        host.loopback = (i->ifa_flags & IFF_LOOPBACK) || host.address[0] == 127;
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr && i->ifa_broadaddr->sa_family == AF_INET) {
            std::memcpy(&in, i->ifa_broadaddr, sizeof in);
            IPv4Address& broadcast = host.broadcast.emplace();
            std::memcpy(broadcast.data(), &in.sin_addr.s_addr, broadcast.size());
        }
        hosts.push_back(std::move(host));
    }
    std::stable_partition(hosts.begin(), hosts.end(), [](const HostAddress& h) { return !h.loopback; });
    return hosts;
}

std::vector<HostAddress> hostAddresses()
{
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0)
        return {};
    auto hosts = hostAddressesFrom(interfaces);
    ::freeifaddrs(interfaces);
    return hosts;
}

std::vector<IPv4Address> addressesOf(std::span<const HostAddress> hosts)
{
    std::vector<IPv4Address> addresses;
    for (const HostAddress& h : hosts)
        addresses.push_back(h.address);
    return addresses;
}

std::string addressListText(std::span<const HostAddress> hosts)
{
    const auto addresses = addressesOf(hosts);
    std::string text;
    for (std::size_t net = 0; net < hosts.size(); ++net) {
        text += std::to_string(net) + ": " + dottedAddress(hosts[net].address) + " (" + hosts[net].interface +
                "), announces to " + *broadcastAddressFrom(addresses, static_cast<std::int64_t>(net)) + "\n";
    }
    return text;
}

} // namespace ostrel
