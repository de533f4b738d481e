#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ostrel {

// Switches keep-alive on (SOL_SOCKET, SO_KEEPALIVE) with a 4-byte value; no timing is set, so the
// system's defaults apply. The result is deliberately not examined.
void setKeepAlive(int fd, int value);

// How the kernel watches a silent connection: the first probe after `idleSeconds` without traffic,
// then `probes` probes `intervalSeconds` apart, and no unacknowledged data kept longer than
// `userTimeoutMs`. Together they close a peer that went silent (a station that lost its power)
// within about twice the idle time.
struct KeepAliveTiming
{
    int idleSeconds = 0;
    int intervalSeconds = 0;
    int probes = 0;
    unsigned userTimeoutMs = 0;

    bool operator==(const KeepAliveTiming&) const = default;
};

// The timing for an idle time of `seconds` (1..3600): idle + interval * probes <= 2 * seconds.
KeepAliveTiming keepAliveTiming(int seconds);

// Switches keep-alive on with keepAliveTiming(seconds) and sets TCP_USER_TIMEOUT to the same
// bound. False when an option was refused; the connection then keeps what was set before.
bool setKeepAliveTiming(int fd, int seconds);

// The peer's address as dotted decimal text.
std::string dottedAddress(const sockaddr_in& address);

// Every local IPv4 address at `port`, for a server socket to bind.
sockaddr_in anyAddress(std::uint16_t port);

// The local port a socket is bound to; 0 when the system cannot say.
std::uint16_t localPort(int fd);

// The IPv4 socket address of dotted decimal text and a port; nullopt when the text is no address.
std::optional<sockaddr_in> socketAddress(const std::string& dotted, std::uint16_t port);

} // namespace ostrel
