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

std::string wakeResultText(std::size_t sent, const std::vector<std::string>& unknown,
                           const std::vector<std::string>& failed)
{
    std::string text;
    const auto line = [&text](std::string_view head, const std::vector<std::string>& names) {
        if (names.empty())
            return;
        if (!text.empty())
            text += '\n';
        text += head;
        for (std::size_t i = 0; i < names.size(); ++i)
            text += (i ? ", " : " ") + names[i];
    };
    if (sent > 0)
        text = "Сигнал включения отправлен: " + std::to_string(sent);
    line("Аппаратный адрес неизвестен, включить нельзя:", unknown);
    line("Сигнал включения не отправлен:", failed);
    return text;
}

} // namespace ostrel
