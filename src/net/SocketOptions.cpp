#include "net/SocketOptions.h"

#include "net/BroadcastAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ostrel {

void setKeepAlive(int fd, int value)
{
    const std::int32_t v = value;
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v);
}

KeepAliveTiming keepAliveTiming(int seconds)
{
    // Several probes, so one lost on a busy network does not end a station's session; they share
    // the second half of the bound.
    constexpr int MostProbes = 5;
    KeepAliveTiming timing;
    timing.idleSeconds = seconds;
    timing.probes = std::clamp(seconds, 1, MostProbes);
    timing.intervalSeconds = std::max(1, seconds / timing.probes);
    timing.userTimeoutMs = static_cast<unsigned>(seconds) * 2 * 1000;
    return timing;
}

bool setKeepAliveTiming(int fd, int seconds)
{
    const KeepAliveTiming timing = keepAliveTiming(seconds);
    const int on = 1;
    bool set = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
    set = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &timing.idleSeconds, sizeof timing.idleSeconds) == 0 && set;
    set = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &timing.intervalSeconds, sizeof timing.intervalSeconds) == 0 &&
          set;
    set = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &timing.probes, sizeof timing.probes) == 0 && set;
    // Also bounds a station that vanishes while a command to it is unacknowledged, where probes
    // are not sent; with it set, the kernel gives up a probed peer at this bound too.
    set =
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timing.userTimeoutMs, sizeof timing.userTimeoutMs) == 0 && set;
    return set;
}

std::string dottedAddress(const sockaddr_in& address)
{
    IPv4Address octets{};
    std::memcpy(octets.data(), &address.sin_addr.s_addr, octets.size());
    return dottedAddress(octets);
}

sockaddr_in anyAddress(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return address;
}

std::uint16_t localPort(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

std::optional<sockaddr_in> socketAddress(const std::string& dotted, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1)
        return std::nullopt;
    return address;
}

} // namespace ostrel
