#pragma once

#include "stations/DroppedStations.h"
#include "stations/KnownStationsFile.h"

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

// Which of the chosen stations can be woken, and which cannot because no hardware address is known.
struct WakePlan
{
    std::vector<KnownStation> send;
    std::vector<std::string> unknown; // names, Windows-1251
};
// The dropped stations the operator chose; each is found by name, else by address.
WakePlan planWake(std::span<const KnownStation> known, std::span<const DroppedStation> chosen);
// Every known station that `connected` says is not.
WakePlan planWakeAll(std::span<const KnownStation> known, const std::function<bool(const std::string&)>& connected);

} // namespace ostrel
