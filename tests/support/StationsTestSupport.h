#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "core/DateTime.h"
#include "core/StationTableMutex.h"
#include "core/TariffList.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "stations/ReportProcessor.h"
#include "stations/StationReport.h"
#include "stations/StationTable.h"
#include "support/TempFolder.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace ostrel::testing {

using StationsTempDir = TempFolder;

struct FakeLink : StationLink
{
    FakeLink(std::string name, std::string addr) : host(std::move(name)), dotted(std::move(addr)) {}
    const std::string& hostName() const override { return host; }
    const std::string& address() const override { return dotted; }
    bool isClosed() const override { return closed.load(); }

    std::string host;
    std::string dotted;
    std::atomic<bool> closed{false};
};

// Records every command; `onSend` lets a test fail the send the way a socket error does.
class RecordingTransport : public CommandTransport
{
public:
    void post(std::string address, const StationCommand& command, SendDone done) override
    {
        if (!connected) {
            if (done)
                done(SendResult::NoConnection);
            return;
        }
        addresses.push_back(std::move(address));
        sent.push_back(encodeStationCommand(command));
        if (onSend)
            onSend();
        if (done)
            done(deliver);
    }
    bool hasConnection(std::string_view) const override { return connected; }

    bool connected = true;
    SendResult deliver = SendResult::Sent; // what a send to a connected station comes to
    std::function<void()> onSend;
    std::vector<std::string> addresses;
    std::vector<CommandBytes> sent;
};

// The date-times count days, so a unit of time is a fraction of one.
constexpr double Hour = 1.0 / 24;
constexpr double Minute = 1.0 / 1440;
constexpr double Second = 1.0 / 86400;

inline double day()
{
    return *encodeDate(2026, 12, 8);
}
inline double at(int h, int m, int s)
{
    return day() + encodeTime(h, m, s);
}

inline StationReport sessionReport(std::int32_t code, std::string tariff, double start, double finish, double price,
                                   double allowance = 0)
{
    StationReport r;
    r.statusCode = code;
    r.statusText = std::move(tariff);
    r.start = start;
    r.finish = finish;
    r.price = price;
    r.allowance = allowance;
    return r;
}

inline StationReport codeReport(std::int32_t code)
{
    StationReport r;
    r.statusCode = code;
    return r;
}

// The station and history tables, a session log in a temporary folder and a processor over them.
struct StationsWorld
{
    explicit StationsWorld(ResumeSettings settings = {true, false})
        : log(dir.file("Ostrel.log"), history, [] { return at(12, 0, 0); }),
          processor(table, history, log, transport, prices, games, settings)
    {
        prices.set("Standard", "2");
        prices.set("Night", "1,5");
        games.set("Quake", "3");
    }

    std::string cell(int row, int col) const
    {
        std::scoped_lock hold(StationTableMutex);
        return table.cell(row, col);
    }

    StationsTempDir dir;
    StationTable table;
    HistoryTable history;
    SessionLog log;
    RecordingTransport transport;
    TariffList prices{"Prices"};
    TariffList games{"Games"};
    ReportProcessor processor;
};

} // namespace ostrel::testing
