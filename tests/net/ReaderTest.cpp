// The network thread over loopback: every station has an address, a name and a price of its own,
// so a report applied to the wrong row, or a row removed for the wrong station, fails.

#include "net/TCPServer.h"

#include "ReaderTestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <thread>

namespace {

// Keep-alive switched on a socket that was listening at the time; counted by the wrapper below.
std::atomic<int> keepAliveOnAListener{0};

} // namespace

// Every setsockopt of this test program passes here on its way to the C library's, the server's own
// calls included, so a test can see which sockets get which options.
extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t length) noexcept
{
    using Real = int (*)(int, int, int, const void*, socklen_t);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "setsockopt"));
    if (level == SOL_SOCKET && name == SO_KEEPALIVE) {
        int listening = 0;
        socklen_t size = sizeof listening;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
            ++keepAliveOnAListener;
    }
    return real(fd, level, name, value, length);
}

namespace ostrel {
namespace {

using namespace nettest;
using namespace readertest;
using namespace std::chrono_literals;

TEST(Reader, ReassemblesEachStationsReportsWhateverTheSegmentationAndNeverMixesRows)
{
    using Split = std::function<std::vector<Bytes>(const Bytes& report)>;
    struct Case
    {
        const char* name;
        Split sends;
        std::uint64_t reports;
    };
    const auto halves = [](const Bytes& r) {
        return std::pair(Bytes(r.begin(), r.begin() + 44), Bytes(r.begin() + 44, r.end()));
    };
    const std::vector<Case> cases = {
        {"split over two sends",
         [&](const Bytes& r) {
             return std::vector<Bytes>{halves(r).first, halves(r).second};
         },
         1},
        {"two reports in one send",
         [](const Bytes& r) {
             return std::vector<Bytes>{concat({r, r})};
         },
         2},
        {"a report and a half, then the rest",
         [&](const Bytes& r) {
             return std::vector<Bytes>{concat({r, halves(r).first}), halves(r).second};
         },
         2},
        {"garbage before a report",
         [](const Bytes& r) {
             return std::vector<Bytes>{concat({{0x00, 0xFF, 0x02, 0x48, 0x48}, r})};
         },
         1},
        {"a damaged report between two good ones",
         [](const Bytes& r) {
             return std::vector<Bytes>{concat({r, Bytes(88, 0x55), r})};
         },
         2},
        {"one byte at a time",
         [](const Bytes& r) {
             std::vector<Bytes> bytes;
             for (const auto b : r)
                 bytes.push_back({b});
             return bytes;
         },
         1},
    };

    // Every case is a station with a price of its own (1 + its index), all on one server at once,
    // their sends interleaved.
    Reader reader;
    ASSERT_TRUE(reader.listening);
    std::vector<std::unique_ptr<StationSocket>> stations;
    std::vector<std::vector<Bytes>> sends;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        stations.push_back(std::make_unique<StationSocket>(stationAddress(i), reader.server->port()));
        ASSERT_TRUE(stations.back()->ok()) << cases[i].name;
        sends.push_back(cases[i].sends(runningReport(1.0 + static_cast<double>(i))));
    }
    for (std::size_t round = 0; round < 100; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (round < sends[i].size()) {
                ASSERT_TRUE(stations[i]->send(sends[i][round]));
            }
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string address = stationAddress(i);
        ASSERT_TRUE(waitUntil([&] { return reader.reportsFrom(address) == cases[i].reports; }))
            << reader.reportsFrom(address) << " reports applied";
        const auto row = reader.state.stationRow("PC-" + address);
        ASSERT_TRUE(row);
        EXPECT_EQ((*row)[ColAddress], address);
        EXPECT_EQ((*row)[ColStatus], "Tariff");
        EXPECT_EQ(reader.price("PC-" + address), 1.0 + static_cast<double>(i));
    }
    EXPECT_EQ(reader.state.stationCount(), cases.size());
    EXPECT_TRUE(reader.state.sessions().empty());
}

TEST(Reader, EachEndOfStreamClosesOnlyItsOwnStationAndLogsItsRunningSession)
{
    struct Case
    {
        const char* name;
        std::function<Bytes(const Bytes& report)> before;
        bool reset;
        bool logged;
    };
    const std::vector<Case> cases = {
        {"mid-report, nothing applied", [](const Bytes& r) { return Bytes(r.begin(), r.begin() + 40); }, false, false},
        {"after a running session", [](const Bytes& r) { return r; }, false, true},
        {"after a closed station", [](const Bytes&) { return closedReport(); }, false, false},
        {"a running session, then half a report",
         [](const Bytes& r) {
             return concat({r, Bytes(r.begin(), r.begin() + 40)});
         },
         false, true},
        {"a running session, then a reset", [](const Bytes& r) { return r; }, true, true},
    };
    Reader reader;
    ASSERT_TRUE(reader.listening);
    // A bystander whose row must survive every other station's end.
    StationSocket bystander("127.0.0.99", reader.server->port());
    ASSERT_TRUE(bystander.send(runningReport(99.0)));
    ASSERT_TRUE(waitUntil([&] { return reader.reportsFrom("127.0.0.99") == 1; }));

    std::vector<std::unique_ptr<StationSocket>> stations;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        stations.push_back(std::make_unique<StationSocket>(stationAddress(i), reader.server->port()));
        ASSERT_TRUE(stations.back()->send(cases[i].before(runningReport(1.0 + static_cast<double>(i)))));
    }
    ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == cases.size() + 1; }));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const bool applied = cases[i].logged || std::string(cases[i].name) == "after a closed station";
        ASSERT_TRUE(waitUntil([&] { return reader.reportsFrom(stationAddress(i)) == (applied ? 1u : 0u); }));
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].reset)
            stations[i]->reset();
        else
            stations[i]->close();
    }
    ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == 1; }));

    std::map<std::string, HistoryRow> logged;
    for (const auto& session : reader.state.sessions())
        logged[session[ColComputer]] = session;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string name = "PC-" + stationAddress(i);
        EXPECT_FALSE(reader.state.stationRow(name));
        ASSERT_EQ(logged.count(name), cases[i].logged ? 1u : 0u);
        if (cases[i].logged) {
            EXPECT_EQ(logged[name][HistoryColComment], "Reset");
            EXPECT_EQ(logged[name][ColAddress], stationAddress(i));
        }
    }
    EXPECT_EQ(logged.size(), 3u);
    EXPECT_EQ(reader.price("PC-127.0.0.99"), 99.0);
    reader.state.log.waitDurable();
    EXPECT_EQ(reader.state.logSize(), 3 * 168u);
}

TEST(Reader, AStationWaitsOnlyForItsOwnNameAndTakesItsAddressAfterTwoSeconds)
{
    // The resolver answers at once, except for one station whose look-up hangs (a slow DNS server)
    // and one whose look-up throws.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    Reader reader([released](const std::string& address) -> std::string {
        if (address == "127.0.0.20")
            released.wait_for(10s);
        if (address == "127.0.0.21")
            throw std::runtime_error("resolver failure");
        return "PC-" + address;
    });
    ASSERT_TRUE(reader.listening);

    StationSocket hanging("127.0.0.20", reader.server->port());
    StationSocket throwing("127.0.0.21", reader.server->port());
    ASSERT_TRUE(hanging.send(runningReport(20.0)) && throwing.send(runningReport(21.0)));
    const auto started = std::chrono::steady_clock::now();
    StationSocket quick("127.0.0.22", reader.server->port());
    ASSERT_TRUE(quick.send(runningReport(22.0)));

    ASSERT_TRUE(waitUntil([&] { return reader.price("PC-127.0.0.22") == 22.0; }));
    ASSERT_TRUE(waitUntil([&] { return reader.price("127.0.0.21") == 21.0; })) << "a failed look-up names by address";
    EXPECT_EQ(reader.reportsFrom("127.0.0.20"), 0u) << "read before its name was known";
    ASSERT_TRUE(waitUntil([&] { return reader.price("127.0.0.20") == 20.0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, TCPServer::NameWait - 100ms);
    release.set_value();

    // The late answer changes nothing, and every connection still ends cleanly.
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(hanging.send(runningReport(23.0)));
    ASSERT_TRUE(waitUntil([&] { return reader.price("127.0.0.20") == 23.0; }));
    EXPECT_FALSE(reader.state.stationRow("PC-127.0.0.20"));
    hanging.close();
    throwing.close();
    quick.close();
    ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == 0; }));
    EXPECT_EQ(reader.state.stationCount(), 0u);
    EXPECT_EQ(reader.state.sessions().size(), 3u);
}

// A resolver that never answers (a silent name server), for every address or `only` one, until
// answer() or the end of the test; then it gives "PC-" + address. The look-up threads it holds may outlive it: they
// keep what they use.
struct SilentResolver
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::shared_ptr<std::atomic<int>> entered = std::make_shared<std::atomic<int>>(0);
    bool answered = false;

    NameLookup::Resolver resolver(std::string only = {})
    {
        return [released = released, entered = entered, only](const std::string& address) {
            ++*entered;
            if (only.empty() || address == only)
                released.wait_for(20s);
            return "PC-" + address;
        };
    }
    void answer()
    {
        if (!std::exchange(answered, true))
            release.set_value();
    }
    ~SilentResolver() { answer(); }
};

TEST(NameLookup, AtMostMaxWaitingLookUpsWaitAndACancelledOneLeavesTheQueue)
{
    SilentResolver silent;
    const auto lookup = NameLookup::create(silent.resolver());
    std::atomic<int> answered{0};
    const auto done = [&answered](std::string) { ++answered; };
    for (int i = 0; i < NameLookup::MaxThreads; ++i)
        ASSERT_NE(lookup->lookUp("10.0.0.1", done), 0u);
    ASSERT_TRUE(waitUntil([&] { return *silent.entered == NameLookup::MaxThreads; }));
    std::vector<std::uint64_t> tickets;
    for (std::size_t i = 0; i < NameLookup::MaxWaiting; ++i)
        tickets.push_back(lookup->lookUp("10.0.1.1", done));
    EXPECT_EQ(std::ranges::count(tickets, 0u), 0);
    EXPECT_EQ(lookup->lookUp("10.0.2.1", done), 0u) << "one more than may wait";
    EXPECT_TRUE(lookup->cancel(tickets[7]));
    EXPECT_FALSE(lookup->cancel(tickets[7]));
    EXPECT_NE(lookup->lookUp("10.0.2.2", done), 0u) << "the cancelled one's place is free";
    EXPECT_EQ(lookup->waiting(), NameLookup::MaxWaiting);

    silent.answer();
    const int all = NameLookup::MaxThreads + static_cast<int>(NameLookup::MaxWaiting);
    ASSERT_TRUE(waitUntil([&] { return answered == all; })) << answered << " answered";
    lookup->stop();
    EXPECT_EQ(answered, all) << "the cancelled look-up was answered after all";
}

// Behind look-ups that never end, a connection's own look-up leaves the queue when the 2 s limit
// names the connection, or when it closes: then its handling runs under the address at once.
TEST(Reader, AConnectionsLookUpLeavesTheQueueWhenItIsNamedOrClosed)
{
    SilentResolver silent;
    Reader reader(silent.resolver());
    std::vector<std::unique_ptr<StationSocket>> stations;
    for (int i = 0; i < NameLookup::MaxThreads + 2; ++i)
        stations.push_back(std::make_unique<StationSocket>(stationAddress(20 + i), reader.server->port()));
    ASSERT_TRUE(
        waitUntil([&] { return *silent.entered == NameLookup::MaxThreads && reader.server->lookUpsWaiting() == 2; }));
    ASSERT_TRUE(reader.server->closeFirstConnectionFrom(stationAddress(20 + NameLookup::MaxThreads + 1)));
    EXPECT_EQ(reader.server->lookUpsWaiting(), 1u);
    EXPECT_EQ(reader.server->connectionCount(), stations.size() - 1);
    ASSERT_TRUE(stations.front()->send(runningReport(7.0)));
    ASSERT_TRUE(waitUntil([&] { return reader.price(stationAddress(20)) == 7.0; }));
    EXPECT_TRUE(waitUntil([&] { return reader.server->lookUpsWaiting() == 0; }))
        << "named by the time limit, still waiting";
}

TEST(Reader, AFloodOfConnectsAgainstASilentNameServerLeavesARealStationNamedAndServed)
{
    SilentResolver silent; // for the flooding peer only: its look-ups hold every look-up thread
    Reader reader(silent.resolver("127.0.0.66"));
    // The station's socket exists before the flood; descriptors are many, as on a real server, but
    // not without end.
    UniqueFd station(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval connectLimit{3, 0};
    setsockopt(station.get(), SOL_SOCKET, SO_SNDTIMEO, &connectLimit, sizeof connectLimit);
    const auto local = loopback("127.0.0.67", 0);
    const auto server = loopback("127.0.0.1", reader.server->port());
    ASSERT_EQ(bind(station.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    DescriptorLimit limit;
    ASSERT_TRUE(limit.leave(300));

    std::atomic<int> connects{0};
    std::jthread peer([&](std::stop_token stop) {
        const linger reset{1, 0};
        for (int i = 0; i < 2'000'000 && !stop.stop_requested(); ++i) {
            const UniqueFd fd(connectWithoutWaiting("127.0.0.66", reader.server->port()));
            connects += fd && setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset) == 0;
            if (!fd)
                std::this_thread::yield(); // no descriptor left
        }
    });
    ASSERT_TRUE(waitUntil([&] { return connects >= 2000; }, 20s)) << connects << " connects";

    // The station connects in the middle of the flood.
    ASSERT_EQ(connect(station.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server), 0)
        << "the listener's queue was full of the flood";
    const Bytes report = runningReport(67.0);
    ASSERT_EQ(::send(station.get(), report.data(), report.size(), MSG_NOSIGNAL), static_cast<ssize_t>(report.size()));
    const bool served = waitUntil([&] { return reader.reportsFrom("127.0.0.67") == 1; }, 3000ms);
    peer.request_stop();
    ASSERT_TRUE(served) << "not named and served within 3 s of connecting";
    EXPECT_EQ(reader.price("127.0.0.67"), 67.0);
    EXPECT_GT(reader.server->refusedConnections(), 0u);
}

// One peer address holds at most MaxConnectionsPerAddress connections: the next one is closed as it
// comes, and a place comes free when one ends. Keep-alive is switched on at each accept for the
// connection alone: the listener's was set once, before it listened.
TEST(Reader, APeerAddressHoldsAtMostItsShareOfConnections)
{
    const int listenerKeepAlives = keepAliveOnAListener;
    Reader reader;
    constexpr std::size_t Share = TCPServer::MaxConnectionsPerAddress;
    std::vector<std::unique_ptr<StationSocket>> held;
    for (std::size_t i = 0; i < Share; ++i)
        held.push_back(std::make_unique<StationSocket>("127.0.0.40", reader.server->port()));
    ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == Share; }));
    StationSocket oneTooMany("127.0.0.40", reader.server->port());
    EXPECT_TRUE(oneTooMany.seesClose(2000ms));
    StationSocket other("127.0.0.41", reader.server->port());
    ASSERT_TRUE(other.send(runningReport(41.0)));
    ASSERT_TRUE(waitUntil([&] { return reader.price("PC-127.0.0.41") == 41.0; }));

    held.front()->close();
    ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == Share; }));
    StationSocket again("127.0.0.40", reader.server->port());
    ASSERT_TRUE(again.send(runningReport(40.0)));
    ASSERT_TRUE(waitUntil([&] { return reader.price("PC-127.0.0.40") == 40.0; }));
    EXPECT_EQ(reader.server->refusedConnections(), 1u);
    EXPECT_EQ(keepAliveOnAListener, listenerKeepAlives);
}

// What escapes a handler reaches the thread's catch-all: told once on stderr, and the thread goes on.
TEST(Reader, WhatEscapesAHandlerIsToldOnceAndTheThreadGoesOn)
{
    Reader reader;
    TempDir dir;
    const UniqueFd err(::open(dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    const UniqueFd saved(dup(2));
    ASSERT_EQ(dup2(err.get(), 2), 2);
    for (int i = 0; i < 2; ++i)
        reader.server->post([] { throw std::runtime_error("a handler's fault"); });
    StationSocket station(stationAddress(0), reader.server->port());
    const bool served = station.send(runningReport()) && waitUntil([&] { return reader.state.stationCount() == 1; });
    dup2(saved.get(), 2);
    ASSERT_TRUE(served) << "the network thread stopped";
    std::ifstream file(dir.file("stderr"));
    const std::string told((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(told.find("a handler's fault"), std::string::npos) << told;
    EXPECT_EQ(told.find("a handler's fault"), told.rfind("a handler's fault")) << told;
}

} // namespace
} // namespace ostrel
