#include "net/SocketOptions.h"

#include "net/BroadcastAddress.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

namespace ostrel {

void setKeepAlive(int fd, int value)
{
    const std::int32_t v = value;
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v);
}

std::string dottedAddress(const sockaddr_in& address)
{
    IPv4Address octets{};
    std::memcpy(octets.data(), &address.sin_addr.s_addr, octets.size());
    return dottedAddress(octets);
}

} // namespace ostrel
