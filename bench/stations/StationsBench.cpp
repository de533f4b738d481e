// Prints how many reports per second one thread reassembles and applies, for a salon of stations
// sending running-session reports (no session closes, so no log appends), and the cost of the
// stream reassembly alone; then the same with the hall's observer watching every report and the
// sessions running as games (its time-left rules at work), against the same without it; and the
// same with the running sessions' file kept, every report changing its row. Run:
// build/<dir>/bench/stations/bench_stations

#include "commands/CommandTransport.h"
#include "core/DateTime.h"
#include "core/TariffList.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "stations/HallWatch.h"
#include "stations/ReportProcessor.h"
#include "stations/ReportStream.h"
#include "stations/RunningSessions.h"
#include "stations/StationTable.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

struct Link : StationLink
{
    std::string name;
    std::string dotted;
    const std::string& hostName() const override { return name; }
    const std::string& address() const override { return dotted; }
    bool isClosed() const override { return false; }
};

struct NoTransport : CommandTransport
{
    void post(std::string, const StationCommand&, SendDone done) override
    {
        if (done)
            done(SendResult::Sent);
    }
    bool hasConnection(std::string_view) const override { return true; }
};

// Report processing on tables of its own; the log is never written (no session closes).
struct Processing
{
    StationTable table;
    HistoryTable history;
    SessionLog log{"/dev/null/never-written", history};
    NoTransport transport;
    TariffList prices{"Prices"};
    TariffList games{"Games"};
    ReportProcessor processor{table, history, log, transport, prices, games, {true, false}};
};

std::vector<std::uint8_t> reportBytes(int minute, std::int32_t code = 2)
{
    StationReport r;
    r.statusCode = code;
    r.allowance = 30 / 1440.0; // a game: runs over half way through the samples
    r.statusText = "Standard";
    r.start = 46364 + 10.0 / 24;
    r.finish = r.start + minute / 1440.0;
    r.price = 2;
    const auto bytes = encodeStationReport(r);
    return {bytes.begin(), bytes.end()};
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Seconds to apply `rounds` game reports from each of `stations`, with the hall's observer or
// without, and with the running sessions' keeper (its files in `folder`) or without.
double gameRun(int stations, int rounds, bool watched, const std::string& folder = {})
{
    Processing p;
    ReportProcessor& processor = p.processor;
    std::unique_ptr<RunningSessions> running;
    if (!folder.empty()) {
        running = std::make_unique<RunningSessions>(folder + "/Ostrel.running", folder + "/Ostrel.log",
                                                    std::chrono::seconds(120));
        processor.setRunningSessions(running.get());
    }
    HallWatch watch;
    int wakes = 0;
    watch.setWake([&] { ++wakes; });
    if (watched)
        processor.addObserver(watch);
    std::vector<Link> links(static_cast<std::size_t>(stations));
    for (int s = 0; s < stations; ++s) {
        links[static_cast<std::size_t>(s)].name = "pc" + std::to_string(s);
        links[static_cast<std::size_t>(s)].dotted = "127.0.0." + std::to_string(2 + s);
    }
    std::vector<StationReport> samples;
    for (int m = 0; m < 60; ++m) {
        const auto bytes = reportBytes(m, 5);
        samples.push_back(*decodeStationReport(std::span<const std::uint8_t, StationReportSize>(bytes.data(), 88)));
    }
    const auto begin = Clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (int s = 0; s < stations; ++s)
            processor.applyReport(links[static_cast<std::size_t>(s)], samples[static_cast<std::size_t>(round % 60)]);
    }
    return seconds(begin);
}

} // namespace

int main()
{
    constexpr int Stations = 50;
    constexpr int Rounds = 4000;

    Processing p;
    ReportProcessor& processor = p.processor;

    std::vector<Link> links(Stations);
    std::vector<ReportStream> streams(Stations);
    for (int s = 0; s < Stations; ++s) {
        links[static_cast<std::size_t>(s)].name = "pc" + std::to_string(s);
        links[static_cast<std::size_t>(s)].dotted = "127.0.0." + std::to_string(2 + s);
    }
    std::vector<std::vector<std::uint8_t>> samples;
    for (int m = 0; m < 60; ++m)
        samples.push_back(reportBytes(m));

    // Each report arrives split in two receives, as a slow link delivers it.
    auto begin = Clock::now();
    for (int round = 0; round < Rounds; ++round) {
        const auto& bytes = samples[static_cast<std::size_t>(round % 60)];
        for (int s = 0; s < Stations; ++s) {
            auto& stream = streams[static_cast<std::size_t>(s)];
            stream.append(std::span(bytes).first(40));
            for (const auto& report : stream.append(std::span(bytes).subspan(40)))
                processor.applyReport(links[static_cast<std::size_t>(s)], report);
        }
    }
    const double applyTime = seconds(begin);
    const double total = static_cast<double>(Stations) * Rounds;
    std::printf("apply: %d stations, %.0f reports in %.3f s: %.0f reports/s, %.2f us/report (applied %llu)\n", Stations,
                total, applyTime, total / applyTime, applyTime / total * 1e6,
                static_cast<unsigned long long>(processor.appliedReports()));

    // Reassembly alone: 1000 reports per receive.
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 1000; ++i)
        burst.insert(burst.end(), samples[static_cast<std::size_t>(i % 60)].begin(),
                     samples[static_cast<std::size_t>(i % 60)].end());
    ReportStream stream;
    std::size_t decoded = 0;
    begin = Clock::now();
    for (int i = 0; i < 200; ++i)
        decoded += stream.append(burst).size();
    const double streamTime = seconds(begin);
    std::printf("reassembly: %zu reports in %.3f s: %.0f reports/s (%.1f MB/s)\n", decoded, streamTime,
                static_cast<double>(decoded) / streamTime,
                static_cast<double>(decoded) * StationReportSize / streamTime / 1e6);

    // The hall's observer: alternate runs, best of each, so the machine's drift hits both alike.
    double bare = 1e9, watched = 1e9;
    for (int i = 0; i < 4; ++i) {
        bare = std::min(bare, gameRun(Stations, Rounds, false));
        watched = std::min(watched, gameRun(Stations, Rounds, true));
    }
    std::printf("game apply: %.2f us/report without the hall's observer, %.2f us/report with it\n", bare / total * 1e6,
                watched / total * 1e6);

    // The running sessions' keeper: the files go to a folder of the benchmark's own.
    char folder[] = "/tmp/ostrel_bench_running.XXXXXX";
    if (::mkdtemp(folder)) {
        double kept = 1e9;
        bare = 1e9;
        for (int i = 0; i < 4; ++i) {
            bare = std::min(bare, gameRun(Stations, Rounds, false));
            kept = std::min(kept, gameRun(Stations, Rounds, false, folder));
        }
        std::printf("running sessions: %.2f us/report without the file, %.2f us/report with it (every report "
                    "changes its row)\n",
                    bare / total * 1e6, kept / total * 1e6);
        for (const char* name : {"/Ostrel.running", "/Ostrel.running.2"})
            std::remove((std::string(folder) + name).c_str());
        ::rmdir(folder);
    }
    return 0;
}
