#include "stations/ReportProcessor.h"

#include "support/StationsTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using namespace testing;

// Threads standing for several stations apply reports while their connections keep closing and
// coming back; afterwards the table must still be a valid table and hold no closed station.
TEST(ReportProcessorThreads, ConcurrentReportsAndDisconnectsKeepTheTableValid)
{
    StationsWorld w({false, false});
    w.log.skipSyncForBenchmark(); // hundreds of appends; the sync is not what this checks
    std::atomic<int> callbacks{0};
    w.processor.setChangedCallback([&] { ++callbacks; });

    constexpr int Threads = 4;
    constexpr int Rounds = 150;
    std::vector<std::vector<std::shared_ptr<FakeLink>>> links(Threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < Rounds; ++round) {
                // Each thread owns its stations, so a closed link of one thread is never revived by another.
                const std::string name = "pc" + std::to_string(t) + "-" + std::to_string(round % 5);
                auto link = std::make_shared<FakeLink>(name, "127.0.0." + std::to_string(2 + t));
                links[static_cast<std::size_t>(t)].push_back(link);
                const int code = round % 7;
                if (code == 2 || code == 3 || code == 5)
                    w.processor.applyReport(
                        *link, sessionReport(code, "Standard", at(10, 0, 0), at(10, round % 60, 0), 2, 1.0 / 24));
                else
                    w.processor.applyReport(*link, codeReport(code));
                w.processor.applyReport(*link, sessionReport(2, "Night", at(9, 0, 0), at(9, 10, 0), 1));
                if (round % 3 != 2) {
                    link->closed = true;
                    w.processor.stationDisconnected(*link);
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    std::set<std::string> open;
    for (const auto& list : links)
        for (const auto& link : list)
            if (!link->isClosed())
                open.insert(link->host);

    std::scoped_lock hold(StationTableMutex);
    const StationTable& t = w.table;
    ASSERT_GE(t.rowCount(), 2);
    EXPECT_EQ(t.row(t.rowCount() - 1), StationRow{});
    for (int r = 1; r < t.rowCount() - 1; ++r) {
        const std::string& name = t.cell(r, ColComputer);
        EXPECT_FALSE(name.empty());
        EXPECT_TRUE(open.count(name)) << name << " has a row but no open link";
        if (r > 1) {
            EXPECT_LT(t.cell(r - 1, ColComputer), name);
        }
    }
    EXPECT_EQ(w.processor.appliedReports() + w.processor.droppedReports(), 2u * Threads * Rounds);
    EXPECT_GT(callbacks.load(), 0);
    // Every history row (but the spare) carries a comment; the history only grew.
    for (int r = 1; r < w.history.rowCount() - 1; ++r)
        EXPECT_FALSE(w.history.row(r)[HistoryColComment].empty());
}

} // namespace
} // namespace ostrel
