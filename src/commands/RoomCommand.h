#pragma once

#include "commands/StationRows.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The room's commands to several stations at once, UTF-8.
namespace fleet {
inline constexpr std::string_view PowerOffFree = "Выключить свободные компьютеры…";
inline constexpr std::string_view PowerOffFreeAction = "Выключить свободные компьютеры";
inline constexpr std::string_view RebootFree = "Перезагрузить свободные компьютеры…";
inline constexpr std::string_view RebootFreeAction = "Перезагрузить свободные компьютеры";
inline constexpr std::string_view PowerOffAll = "Выключить все компьютеры…";
inline constexpr std::string_view PowerOffAllAction = "Выключить все компьютеры";
inline constexpr std::string_view NoFreeStations = "Свободных компьютеров нет";
inline constexpr std::string_view NoStations = "Нет подключенных компьютеров";
} // namespace fleet

// The question before a command to several stations: "Перезагрузить выбранные компьютеры (3)?",
// then "Идущих сеансов среди них: 2.", UTF-8.
std::string fleetQuestion(std::string_view action, int stations, int running);

// A command of the hall's menu to the whole room: the stations it goes to, in table order, and the
// question asked once before it, naming how many ("Перезагрузить свободные компьютеры (5)?"), and
// for every station also the running sessions it would cut short. Rebooting or powering off the
// free stations (freeOnly) reaches no running session. No targets: no question, nothing to send.
struct RoomCommand
{
    std::vector<StationKey> targets;
    std::string question; // UTF-8
};
RoomCommand roomCommand(const StationRows& rows, int tag, bool freeOnly);

} // namespace ostrel
