#pragma once

#include "core/StationRow.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

class TariffList;

// One item of the command menu, independent of any widget toolkit.
struct CommandMenuItem
{
    std::string caption; // Windows-1251; empty for a separator
    int tag = 0;         // see tags:: in MenuCommand.h; 0 for a separator
    std::string tariff;  // the tariff name of items 100, 101, 200 and 201, Windows-1251
    bool separator = false;
    bool enabled = true;
    bool priced = true;                   // false for a tariff whose value is not a number: never enabled
    std::vector<CommandMenuItem> submenu; // only "Ожидание" has one

    friend bool operator==(const CommandMenuItem&, const CommandMenuItem&) = default;
};

using CommandMenuItems = std::vector<CommandMenuItem>;

// The command menu for the two tariff lists: the Prices tariffs, the Games tariffs, "Ожидание"
// holding both again, then "Освободить", "Блокировка" and the four station commands, with a
// separator after each group that is not empty. A tariff whose value is not a number has its items
// disabled for good: it would send nothing whenever it were chosen.
CommandMenuItems buildCommandMenu(const TariffList& prices, const TariffList& games);

// Whether a top-level item with this tag is to be enabled for a station row; nullopt for the tags
// whose state is never changed (separators, the station commands).
std::optional<bool> commandEnabledFor(int tag, const StationRow& row);

// Sets the enabled state of the top-level items for a station row. The items inside "Ожидание" are
// never changed: they can be reached only while "Ожидание" itself is enabled.
void UpdateCommandMenu(CommandMenuItems& menu, const StationRow& row);

// The same for several stations at once: an item is enabled only when it is enabled for every row,
// so no station is offered a command its own menu would refuse.
void UpdateCommandMenu(CommandMenuItems& menu, std::span<const StationRow> rows);

// A station the room's "free computers" commands reach: its program is unloaded, or it is free as
// the hall's summary counts it (not closed, not waiting, no sum running), "Cвободно" above all.
// A station with a running session is never free.
bool isFreeStation(const StationRow& row);

} // namespace ostrel
