#include "net/BroadcastAddress.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

std::optional<std::vector<IPv4Address>> hostIPv4Addresses()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::nullopt;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;

    std::vector<IPv4Address> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET || a->ai_addrlen < sizeof(sockaddr_in))
            continue;
        sockaddr_in in{};
        std::memcpy(&in, a->ai_addr, sizeof in);
        IPv4Address address{};
        std::memcpy(address.data(), &in.sin_addr.s_addr, address.size());
        addresses.push_back(address);
    }
    freeaddrinfo(found);
    if (addresses.empty())
        return std::nullopt;
    return addresses;
}

std::optional<std::string> broadcastAddressForNet(std::int64_t net)
{
    const auto addresses = hostIPv4Addresses();
    if (!addresses) {
        const IPv4Address fallback = {7, 0, 0, 1};
        return broadcastAddressFrom(std::span(&fallback, 1), 0);
    }
    return broadcastAddressFrom(*addresses, net);
}

} // namespace ostrel
