// Input format, read as a little program: byte 0 picks the resume settings; then each step is an
// opcode byte whose low two bits choose one of four connections and whose upper bits choose what
// happens on it: raw bytes for its stream, a report built from the following bytes, a close, or
// arming a send failure. Missing bytes read as zero, so every input is a valid program.

#include "commands/CommandTransport.h"
#include "core/DateTime.h"
#include "core/StationTableMutex.h"
#include "core/TariffList.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "stations/ReportProcessor.h"
#include "stations/ReportStream.h"
#include "stations/StationReport.h"
#include "stations/StationTable.h"

#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace ostrel;

constexpr int Slots = 4;
const char* const Names[] = {"pc1", "pc2", "PC1", "pc10", "\xCF\xCA", "pc1"};
const char* const Tariffs[] = {"Standard", "Night", "Quake", "Unknown", "", "standard"};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

struct Input
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;

    bool done() const { return pos >= size; }
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    std::uint64_t u64()
    {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t{byte()} << (8 * i);
        return v;
    }
};

struct Link : StationLink
{
    std::string name;
    std::string dotted;
    bool closed = false;
    ReportStream stream;

    const std::string& hostName() const override { return name; }
    const std::string& address() const override { return dotted; }
    bool isClosed() const override { return closed; }
};

struct World;

// Sends succeed while an open link has the address; an armed failure closes that link during the
// send, running the disconnect handling nested inside the processor's hold of the mutex.
struct Transport : CommandTransport
{
    World* world = nullptr;
    bool failNext = false;
    void post(std::string address, const StationCommand& command, SendDone done) override;
    bool hasConnection(std::string_view address) const override;
};

struct World
{
    StationTable table;
    HistoryTable history;
    SessionLog log;
    Transport transport;
    TariffList prices{"Prices"};
    TariffList games{"Games"};
    ReportProcessor processor;
    std::array<std::unique_ptr<Link>, Slots> links;

    World(const std::string& logPath, ResumeSettings settings)
        : log(logPath, history, [] { return 46364.5; }),
          processor(table, history, log, transport, prices, games, settings)
    {
        log.skipSyncForBenchmark();
        transport.world = this;
        prices.set("Standard", "2");
        prices.set("Night", "1,5");
        games.set("Quake", "3");
        games.set("Standard", "x"); // only reached by "standard", and not a number
        for (int s = 0; s < Slots; ++s)
            links[static_cast<std::size_t>(s)] = freshLink(s, static_cast<std::uint8_t>(s));
    }

    static std::unique_ptr<Link> freshLink(int slot, std::uint8_t nameByte)
    {
        auto link = std::make_unique<Link>();
        link->name = Names[nameByte % std::size(Names)];
        link->dotted = "127.0.0." + std::to_string(2 + slot);
        return link;
    }

    void close(Link& link)
    {
        if (link.closed)
            return;
        link.closed = true; // before the handling, as the connection layer does
        processor.stationDisconnected(link);
    }

    void checkInvariants()
    {
        std::scoped_lock hold(StationTableMutex);
        static const StationTable pristine;
        const int n = table.rowCount();
        if (n < 2)
            fail("row count");
        if (table.row(0) != pristine.row(0))
            fail("header row");
        if (table.row(n - 1) != StationRow{})
            fail("trailing row not blank");
        for (int r = 1; r < n - 1; ++r) {
            const std::string& name = table.cell(r, ColComputer);
            if (name.empty())
                fail("station row without a name");
            if (r > 1 && !(table.cell(r - 1, ColComputer) < name))
                fail("rows out of order");
            bool open = false;
            for (const auto& link : links)
                open = open || (!link->closed && link->name == name);
            if (!open)
                fail("row of a closed connection");
        }
        if (history.rowCount() < 2 || history.row(history.rowCount() - 1) != HistoryRow{})
            fail("history spare row");
    }
};

bool Transport::hasConnection(std::string_view address) const
{
    for (const auto& link : world->links)
        if (!link->closed && link->dotted == address)
            return true;
    return false;
}

void Transport::post(std::string address, const StationCommand&, SendDone done)
{
    SendResult result = SendResult::NoConnection;
    for (auto& link : world->links) {
        if (link->closed || link->dotted != address)
            continue;
        if (failNext) {
            failNext = false;
            world->close(*link);
        }
        result = SendResult::Sent;
        break;
    }
    if (done)
        done(result);
}

double pickDouble(Input& in)
{
    const std::uint8_t sel = in.byte();
    constexpr double Day = 46364.0;
    switch (sel % 8) {
    case 0:
        return Day + (sel / 8) / 48.0; // a time of the day, in half hours
    case 1:
        return (sel / 8) / 1440.0; // a few minutes, as a price or an allowance
    case 2:
        return Day + 1 + (sel / 8) / 24.0;
    case 3:
        return sel & 0x80 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    case 4:
        return sel & 0x80 ? std::numeric_limits<double>::max() : -1e12;
    case 5:
        return -Day;
    default:
        return std::bit_cast<double>(in.u64());
    }
}

void applyAll(World& w, Link& link, std::span<const std::uint8_t> bytes)
{
    for (const auto& report : link.stream.append(bytes)) {
        w.processor.applyReport(link, report);
        w.checkInvariants();
    }
    if (link.stream.buffered() >= StationReportSize)
        fail("stream holds a whole report");
}

std::string logPath()
{
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return pattern + "/Ostrel.log";
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in{data, size};
    const std::string path = logPath();
    std::remove(path.c_str());

    const std::uint8_t setup = in.byte();
    World w(path, ResumeSettings{(setup & 1) != 0, (setup & 2) != 0});

    for (int steps = 0; !in.done() && steps < 512; ++steps) {
        const std::uint8_t op = in.byte();
        Link& link = *w.links[op % Slots];
        switch ((op >> 2) % 4) {
        case 0: { // raw bytes
            const std::size_t n = std::min<std::size_t>(in.byte(), in.size - std::min(in.pos, in.size));
            applyAll(w, link, std::span(in.data + in.pos, n));
            in.pos += n;
            break;
        }
        case 1: { // a report built from the input, sent through the stream
            StationReport report;
            const std::uint8_t code = in.byte();
            report.statusCode = code < 250 ? code % 8 : -static_cast<int>(code - 249);
            report.statusText = Tariffs[in.byte() % std::size(Tariffs)];
            report.start = pickDouble(in);
            report.finish = pickDouble(in);
            report.price = pickDouble(in);
            report.allowance = pickDouble(in);
            const auto bytes = encodeStationReport(report);
            applyAll(w, link, bytes);
            break;
        }
        case 2: { // the connection closes; a new one takes its place
            w.close(link);
            w.links[op % Slots] = World::freshLink(op % Slots, in.byte());
            break;
        }
        case 3:
            w.transport.failNext = !w.transport.failNext;
            break;
        }
        w.checkInvariants();
    }
    return 0;
}
