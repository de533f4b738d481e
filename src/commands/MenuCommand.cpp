#include "commands/MenuCommand.h"

#include "core/Cp1251.h"
#include "core/TariffList.h"
#include "core/Texts.h"

#include <string>

namespace ostrel {

std::optional<CommandCode> plainCommandCode(int tag)
{
    switch (tag) {
    case tags::Free:
        return CommandCode::cmdFree;
    case tags::Block:
        return CommandCode::cmdBlock;
    case tags::KillApps:
        return CommandCode::cmdKillApps;
    case tags::Reboot:
        return CommandCode::cmdReboot;
    case tags::PowerOff:
        return CommandCode::cmdPowerOff;
    case tags::LogOff:
        return CommandCode::cmdLogOff;
    default:
        return std::nullopt;
    }
}

std::optional<double> tariffPrice(const TariffList& list, std::string_view name)
{
    return parseDecimal(list.value(name));
}

std::optional<std::string> unpricedTariffsText(const TariffList& prices, const TariffList& games)
{
    std::string lines;
    for (const TariffList* list : {&prices, &games}) {
        for (int line = 1; line < list->count(); ++line) {
            const std::string name = list->name(line);
            if (tariffPrice(*list, name))
                continue;
            // Appended piece by piece: GCC 12 warns of overlap in "literal" + std::string.
            lines += '\n';
            lines += cp1251ToUtf8(list->lines().front());
            lines += ": \"";
            lines += cp1251ToUtf8(name);
            lines += "\" = \"";
            lines += cp1251ToUtf8(list->value(name));
            lines += '"';
        }
    }
    if (lines.empty())
        return std::nullopt;
    std::string text = "Тарифы отключены в меню, их цена не является числом:";
    text += lines;
    return text;
}

std::optional<StationCommand> tariffCommand(CommandCode code, std::string_view name, const TariffList& list,
                                            double time)
{
    const auto price = tariffPrice(list, name);
    if (!price)
        return std::nullopt;
    StationCommand command;
    command.code = code;
    command.tariff = std::string(name);
    command.price = *price;
    command.time = time;
    return command;
}

} // namespace ostrel
