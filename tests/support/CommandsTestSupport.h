#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "core/StationRow.h"
#include "core/TariffList.h"

#include <algorithm>
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

    SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes) override
    {
        bool known = false;
        for (const auto& a : connected)
            known = known || a == address;
        if (!known || bytes.size() != StationCommandSize)
            return SendResult::NoConnection;
        Sent s{std::string(address), {}};
        for (std::size_t i = 0; i < StationCommandSize; ++i)
            s.bytes[i] = bytes[i];
        sent.push_back(s);
        return SendResult::Sent;
    }

    bool hasConnection(std::string_view address) const override
    {
        for (const auto& a : connected)
            if (a == address)
                return true;
        return false;
    }

    void notConnected(std::string_view address, std::span<const std::uint8_t> bytes) override
    {
        Sent s{std::string(address), {}};
        std::copy_n(bytes.begin(), std::min(bytes.size(), StationCommandSize), s.bytes.begin());
        refused.push_back(s);
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
