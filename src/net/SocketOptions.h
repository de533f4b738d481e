#pragma once

#include <string>

struct sockaddr_in;

namespace ostrel {

// Switches keep-alive on (SOL_SOCKET, SO_KEEPALIVE) with a 4-byte value; no timing is set, so the
// system's defaults apply. The result is deliberately not examined.
void setKeepAlive(int fd, int value);

// The peer's address as dotted decimal text.
std::string dottedAddress(const sockaddr_in& address);

} // namespace ostrel
