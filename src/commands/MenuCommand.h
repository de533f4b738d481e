#pragma once

#include "commands/StationCommand.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

class TariffList;

// The command menu's fixed items, UTF-8.
namespace menu {
inline constexpr std::string_view Wait = "Ожидание";
inline constexpr std::string_view Free = "Освободить";
inline constexpr std::string_view Block = "Блокировка";
inline constexpr std::string_view KillApps = "Убить все приложения";
inline constexpr std::string_view Reboot = "Перезагрузка";
inline constexpr std::string_view PowerOff = "Выключить компьютер";
inline constexpr std::string_view LogOff = "Выйти из системы";
} // namespace menu

// The tags of the command menu's items: what a click does.
namespace tags {
inline constexpr int Free = 2;
inline constexpr int Block = 3;
inline constexpr int Wait = 4; // the "Ожидание" submenu itself
inline constexpr int StartPaid = 100;
inline constexpr int WaitPaid = 101;
inline constexpr int StartGame = 200;
inline constexpr int WaitGame = 201;
inline constexpr int KillApps = 1001;
inline constexpr int Reboot = 1002;
inline constexpr int PowerOff = 1003;
inline constexpr int LogOff = 1005;
} // namespace tags

// The code of an item that sends its command straight away (2, 3, 1001, 1002, 1003, 1005).
std::optional<CommandCode> plainCommandCode(int tag);

// The tariff's value in the list (name looked up with letter case ignored) read as a number with
// the comma as decimal separator; nullopt when it is not a number, an unlisted name included.
std::optional<double> tariffPrice(const TariffList& list, std::string_view name);

// The warning at start-up naming every tariff of both lists whose value is not a number, whose menu
// items are disabled, in UTF-8: "Prices: "Day" = "1.5"" one a line below the heading. nullopt when
// every tariff has its price.
std::optional<std::string> unpricedTariffsText(const TariffList& prices, const TariffList& games);

// A command carrying a tariff: the name (cut to 20 bytes on the wire), its price from the list and
// the time. nullopt when the tariff's value is not a number.
std::optional<StationCommand> tariffCommand(CommandCode code, std::string_view name, const TariffList& list,
                                            double time = 0);

} // namespace ostrel
