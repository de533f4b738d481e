#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "core/StationRow.h"
#include "core/TariffList.h"

#include <string>
#include <string_view>
#include <vector>

namespace ostrel::testing {

// Records what would have gone out, per address; addresses not in `connected` have no connection.
class FakeTransport : public CommandTransport
{
public:
    struct Sent
    {
        std::string address;
        CommandBytes bytes;
    };

    std::vector<std::string> connected;
    std::vector<Sent> sent;
    std::vector<Sent> refused; // told through notConnected: never sent

    void post(std::string address, const StationCommand& command, SendDone done) override
    {
        const SendResult result = hasConnection(address) ? SendResult::Sent : SendResult::NoConnection;
        if (result == SendResult::Sent)
            sent.push_back({std::move(address), encodeStationCommand(command)});
        if (done)
            done(result);
    }

    bool hasConnection(std::string_view address) const override
    {
        for (const auto& a : connected)
            if (a == address)
                return true;
        return false;
    }

    void notConnected(std::string_view address, const StationCommand& command) override
    {
        refused.push_back({std::string(address), encodeStationCommand(command)});
    }

    StationCommand lastCommand() const { return *decodeStationCommand(sent.back().bytes); }
};

inline TariffList tariffList(std::string title, const std::vector<std::pair<std::string, std::string>>& entries)
{
    TariffList list(std::move(title));
    for (const auto& [name, value] : entries)
        list.set(name, value);
    return list;
}

// A station row with the given cells, the rest empty; texts in Windows-1251.
inline StationRow stationRow(std::string name, std::string address, std::string_view status, std::string elapsed = {},
                             std::string finish = {}, std::string left = {})
{
    StationRow row;
    row[ColComputer] = std::move(name);
    row[ColAddress] = std::move(address);
    row[ColStatus] = std::string(status);
    row[ColElapsed] = std::move(elapsed);
    row[ColFinish] = std::move(finish);
    row[ColLeft] = std::move(left);
    return row;
}

// A station table as the menu sees it: header row, station rows, blank last row.
struct FakeTable
{
    std::vector<StationRow> rows{StationRow{}, StationRow{}};

    int rowCount() const { return static_cast<int>(rows.size()); }
    const StationRow& row(int r) const { return rows.at(static_cast<std::size_t>(r)); }
    void add(StationRow row) { rows.insert(rows.end() - 1, std::move(row)); }
};

} // namespace ostrel::testing
