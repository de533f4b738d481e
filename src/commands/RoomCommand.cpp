#include "commands/RoomCommand.h"

#include "commands/CommandMenuModel.h"
#include "commands/MenuCommand.h"

#include <string>

namespace ostrel {

std::string fleetQuestion(std::string_view action, int stations, int running)
{
    return std::string(action) + " (" + std::to_string(stations) +
           ")?\nИдущих сеансов среди них: " + std::to_string(running) + ".";
}

RoomCommand roomCommand(const StationRows& rows, int tag, bool freeOnly)
{
    RoomCommand command;
    int running = 0;
    command.targets = rows.select([&running, freeOnly](const StationRow& row) {
        running += row[ColSum].empty() ? 0 : 1;
        return !freeOnly || isFreeStation(row);
    });
    if (command.targets.empty())
        return command;
    const int stations = static_cast<int>(command.targets.size());
    if (!freeOnly) {
        command.question = fleetQuestion(fleet::PowerOffAllAction, stations, running);
        return command;
    }
    const std::string_view action = tag == tags::Reboot ? fleet::RebootFreeAction : fleet::PowerOffFreeAction;
    command.question = std::string(action) + " (" + std::to_string(stations) + ")?";
    return command;
}

} // namespace ostrel
