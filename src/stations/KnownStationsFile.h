#pragma once

#include "core/HardwareAddress.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// A station that has connected at least once, as the stations file keeps it.
struct KnownStation
{
    std::string name;    // Windows-1251, as in the station table
    std::string address; // dotted IPv4
    std::optional<HardwareAddress> hardware;
    double lastSeen = 0; // day number

    friend bool operator==(const KnownStation&, const KnownStation&) = default;
};

// The file's text: one line per station, "name<TAB>address<TAB>hardware<TAB>dd.MM.yyyy H:mm:ss",
// the name in UTF-8 and the hardware address empty when unknown. Tabs keep it readable in an
// editor and need no quoting: neither a host name nor the other fields can hold one.
std::string formatKnownStations(std::span<const KnownStation> stations);

struct KnownStationsText
{
    std::vector<KnownStation> stations;
    std::vector<std::size_t> damagedLines; // from 1; those lines are left out
};
KnownStationsText parseKnownStations(std::string_view text);

// A name, address or other field that holds a control character cannot be written as one line.
bool hasControlCharacter(std::string_view text);

} // namespace ostrel
