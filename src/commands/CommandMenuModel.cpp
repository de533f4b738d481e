#include "commands/CommandMenuModel.h"

#include "commands/MenuCommand.h"
#include "core/Cp1251.h"
#include "core/TariffList.h"
#include "core/Texts.h"

#include <string_view>

namespace ostrel {

namespace {

CommandMenuItem separator()
{
    CommandMenuItem item;
    item.separator = true;
    return item;
}

CommandMenuItem command(std::string_view utf8Caption, int tag)
{
    CommandMenuItem item;
    item.caption = utf8ToCp1251(utf8Caption);
    item.tag = tag;
    return item;
}

// One item per tariff line (the title line 0 is no tariff), then a separator when there was any.
void appendTariffs(CommandMenuItems& items, const TariffList& list, int tag, bool separatorAfter)
{
    for (int line = 1; line < list.count(); ++line) {
        CommandMenuItem item;
        item.tariff = list.name(line);
        item.caption = item.tariff;
        item.tag = tag;
        item.priced = tariffPrice(list, item.tariff).has_value();
        item.enabled = item.priced;
        items.push_back(std::move(item));
    }
    if (separatorAfter && list.count() > 1)
        items.push_back(separator());
}

} // namespace

CommandMenuItems buildCommandMenu(const TariffList& prices, const TariffList& games)
{
    CommandMenuItems items;
    appendTariffs(items, prices, tags::StartPaid, true);
    appendTariffs(items, games, tags::StartGame, true);

    CommandMenuItem wait = command(menu::Wait, tags::Wait);
    appendTariffs(wait.submenu, prices, tags::WaitPaid, true);
    appendTariffs(wait.submenu, games, tags::WaitGame, false);
    items.push_back(std::move(wait));

    items.push_back(separator());
    items.push_back(command(menu::Free, tags::Free));
    items.push_back(command(menu::Block, tags::Block));
    items.push_back(separator());
    items.push_back(command(menu::KillApps, tags::KillApps));
    items.push_back(command(menu::Reboot, tags::Reboot));
    items.push_back(command(menu::PowerOff, tags::PowerOff));
    items.push_back(command(menu::LogOff, tags::LogOff));
    return items;
}

std::optional<bool> commandEnabledFor(int tag, const StationRow& row)
{
    const std::string& status = row[ColStatus];
    const bool refusesTariffs =
        status == words::Unloaded || status == words::WaitingPaid || status == words::WaitingGame;
    switch (tag) {
    case tags::Free:
        return status != words::Unloaded;
    case tags::Block:
        return status != words::Closed;
    case tags::Wait:
        return status == words::Closed;
    case tags::StartPaid:
        return !refusesTariffs && row[ColLeft].empty();
    case tags::StartGame:
        return !refusesTariffs && (!row[ColLeft].empty() || row[ColFinish].empty());
    default:
        return std::nullopt;
    }
}

void UpdateCommandMenu(CommandMenuItems& menu, const StationRow& row)
{
    for (auto& item : menu) {
        if (const auto enabled = commandEnabledFor(item.tag, row))
            item.enabled = *enabled && item.priced;
    }
}

void UpdateCommandMenu(CommandMenuItems& menu, std::span<const StationRow> rows)
{
    for (auto& item : menu) {
        std::optional<bool> all;
        for (const StationRow& row : rows) {
            const auto enabled = commandEnabledFor(item.tag, row);
            if (!enabled)
                break;
            all = all.value_or(true) && *enabled;
        }
        if (all)
            item.enabled = *all && item.priced;
    }
}

bool isFreeStation(const StationRow& row)
{
    const StationState state = stationState(row);
    return state == StationState::Unloaded || state == StationState::Free;
}

} // namespace ostrel
