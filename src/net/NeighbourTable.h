#pragma once

#include "stations/KnownStations.h"

#include <string>
#include <string_view>

namespace ostrel {

// The kernel's IPv4 neighbour table as /proc/net/arp shows it: a header line, then
// "IP address  HW type  Flags  HW address  Mask  Device" per entry. Only Ethernet entries the
// kernel has completed count; an incomplete one (flags 0x0, address 00:00:00:00:00:00) and any
// line that does not read are left out. The text file is one read for the whole table, where a
// netlink dump would need a socket and its own message parser for the same answer.
KnownStations::NeighbourTable parseNeighbourTable(std::string_view text);

// This host's table now; empty when it cannot be read.
KnownStations::NeighbourTable readNeighbourTable(const std::string& path = "/proc/net/arp");

} // namespace ostrel
