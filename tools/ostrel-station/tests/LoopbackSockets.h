#pragma once

// The simulator's tests stand in for the server over plain sockets on 127.0.0.0/8.

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

namespace ostrel::sim::testing {

// Port 0 asks the kernel for a free port when bound.
inline sockaddr_in loopback(const char* address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &sa.sin_addr);
    return sa;
}

inline std::uint16_t boundPort(int fd)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    return ntohs(sa.sin_port);
}

inline std::string dotted(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace ostrel::sim::testing
