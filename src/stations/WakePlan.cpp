#include "stations/WakePlan.h"

#include <algorithm>

namespace ostrel {

WakePlan planWake(std::span<const KnownStation> known, std::span<const DroppedStation> chosen)
{
    WakePlan plan;
    for (const DroppedStation& d : chosen) {
        auto it = std::find_if(known.begin(), known.end(), [&](const KnownStation& k) { return k.name == d.computer; });
        if (it == known.end())
            it =
                std::find_if(known.begin(), known.end(), [&](const KnownStation& k) { return k.address == d.address; });
        if (it != known.end() && it->hardware)
            plan.send.push_back(*it);
        else
            plan.unknown.push_back(d.computer);
    }
    return plan;
}

WakePlan planWakeAll(std::span<const KnownStation> known, const std::function<bool(const std::string&)>& connected)
{
    WakePlan plan;
    for (const KnownStation& k : known) {
        if (connected(k.address))
            continue;
        if (k.hardware)
            plan.send.push_back(k);
        else
            plan.unknown.push_back(k.name);
    }
    return plan;
}

} // namespace ostrel
