#pragma once

#include "stations/DroppedStations.h"
#include "stations/KnownStationsFile.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
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

// Waking powered-off stations from the dropped-stations window, UTF-8.
namespace wake {
inline constexpr std::string_view WakeOne = "Включить";
inline constexpr std::string_view WakeAll = "Включить все";
inline constexpr std::string_view NothingToWake = "Все известные компьютеры подключены";
} // namespace wake

// The outcome of a wake-up, one line per kind, names in UTF-8:
// "Сигнал включения отправлен: 2"
// "Аппаратный адрес неизвестен, включить нельзя: Comp-3, Comp-7"
// "Сигнал включения не отправлен: Comp-9"
std::string wakeResultText(std::size_t sent, const std::vector<std::string>& unknown,
                           const std::vector<std::string>& failed);

} // namespace ostrel
