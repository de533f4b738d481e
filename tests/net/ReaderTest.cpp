// The network thread over loopback: every station has an address, a name and a price of its own,
// so a report applied to the wrong row, or a row removed for the wrong station, fails.

#include "net/TCPServer.h"

#include "support/NetTestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
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
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string stationAddress(std::size_t i)
{
    return "127.0.0." + std::to_string(10 + i);
}

// A listening server whose stations are named after their address ("PC-127.0.0.10") unless the
// test brings its own resolver.
struct Reader
{
    explicit Reader(NameLookup::Resolver resolver = [](const std::string& a) { return "PC-" + a; })
        : server(std::make_unique<TCPServer>()), state(*server)
    {
        server->setReportProcessor(&state.processor);
        server->setNameResolver(std::move(resolver));
        server->setReportObserver([this](const Connection& c, const StationReport&) {
            std::scoped_lock hold(lock);
            ++appliedFrom[c.address()];
        });
        listening = server->listen(0);
    }
    ~Reader() { server.reset(); } // the network thread stops before the state it writes goes

    std::uint64_t reportsFrom(const std::string& address)
    {
        std::scoped_lock hold(lock);
        return appliedFrom[address];
    }
    double price(const std::string& name) const
    {
        const auto row = state.stationRow(name);
        if (!row)
            return -1;
        std::string text = (*row)[ColPrice];
        std::replace(text.begin(), text.end(), ',', '.');
        return std::strtod(text.c_str(), nullptr);
    }

    std::unique_ptr<TCPServer> server;
    LiveState state;
    bool listening = false;
    std::mutex lock;
    std::map<std::string, std::uint64_t> appliedFrom;
};

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

TEST(Reader, ACommandGoesOutWholeOrItsConnectionIsClosedAndTheSenderIsTold)
{
    Reader reader;
    ASSERT_TRUE(reader.listening);
    StationSocket deaf("127.0.0.30", reader.server->port(), 4096);
    StationSocket other("127.0.0.31", reader.server->port());
    ASSERT_TRUE(deaf.send(runningReport()) && other.send(runningReport()));
    ASSERT_TRUE(waitUntil([&] { return reader.state.stationCount() == 2; }));

    // Commands to a station that reads nothing, each a different byte value, posted as the window
    // posts them; every one is told exactly once.
    std::mutex lock;
    std::map<SendResult, int> results;
    int told = 0;
    constexpr int Commands = 200000; // 9.6 MB: far beyond what the sockets and the pending bound hold
    for (int i = 0; i < Commands; ++i) {
        reader.server->postToAddress("127.0.0.30", Bytes(48, static_cast<std::uint8_t>(i)), [&](SendResult r) {
            std::scoped_lock hold(lock);
            ++results[r];
            ++told;
        });
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            std::scoped_lock hold(lock);
            return told == Commands;
        },
        10000ms));
    EXPECT_GT(results[SendResult::Sent], 0);
    EXPECT_GT(results[SendResult::NotDelivered] + results[SendResult::NoConnection], 0);
    EXPECT_FALSE(reader.state.stationRow("PC-127.0.0.30"));
    ASSERT_EQ(reader.state.sessions().size(), 1u);
    EXPECT_EQ(reader.state.sessions()[0][ColComputer], "PC-127.0.0.30");
    EXPECT_EQ(reader.state.sessions()[0][HistoryColComment], "Reset");

    // What reached the station is whole commands in order, at most the last one cut short by the
    // close: never a cut command followed by the next.
    const Bytes got = deaf.receive(16 * 1024 * 1024, 2000ms);
    const std::size_t whole = got.size() / 48;
    EXPECT_GE(whole, static_cast<std::size_t>(results[SendResult::Sent])) << "a command told Sent never arrived";
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], static_cast<std::uint8_t>(i / 48)) << "byte " << i;

    // The other station was never touched.
    const Bytes command(48, 0x5A);
    EXPECT_EQ(reader.server->sendToAddress("127.0.0.31", command), SendResult::Sent);
    EXPECT_EQ(other.receive(48, 2000ms), command);
    EXPECT_TRUE(reader.state.stationRow("PC-127.0.0.31"));
}

// Shrinks the send buffer of the server's end of `station`'s connection (this process holds both
// ends), so that a command of a few kilobytes is taken only in part. False when it is not found.
bool shrinkServerSendBuffer(const StationSocket& station)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(station.fd(), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const int fd = std::atoi(entry.path().filename().c_str());
        sockaddr_in peer{};
        length = sizeof peer;
        if (fd == station.fd() || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sin_family != AF_INET || peer.sin_port != local.sin_port ||
            peer.sin_addr.s_addr != local.sin_addr.s_addr)
            continue;
        const int size = 4096;
        return setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) == 0;
    }
    return false;
}

// A command larger than what the server's socket takes at once goes out in parts. (A 48-byte
// command is hardly ever taken in part: a small send mostly fits or takes nothing.)
TEST(Reader, ACommandTheSocketTakesInPartArrivesWholeOrIsToldNotDelivered)
{
    struct Case
    {
        const char* name;
        std::size_t size;
        SendResult told;
    };
    const Case cases[] = {
        {"within the pending bound: the rest follows, then the next command", TCPServer::MaxPendingCommandBytes - 4096,
         SendResult::Sent},
        {"beyond the pending bound: the connection goes", 4 * TCPServer::MaxPendingCommandBytes,
         SendResult::NotDelivered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Before the server: a command still waiting when it stops is told then.
        std::mutex lock;
        std::vector<SendResult> told(2, SendResult::NoConnection);
        int answers = 0;
        Reader reader;
        ASSERT_TRUE(reader.listening);
        StationSocket station("127.0.0.40", reader.server->port(), 4096); // reads nothing until told
        ASSERT_TRUE(station.ok());
        ASSERT_TRUE(waitUntil([&] { return reader.server->connectionCount() == 1; }));
        ASSERT_TRUE(shrinkServerSendBuffer(station));

        Bytes large(c.size);
        for (std::size_t i = 0; i < large.size(); ++i)
            large[i] = static_cast<std::uint8_t>(i % 251);
        const Bytes next(48, 0xC7);
        const auto tell = [&](std::size_t which) {
            return [&, which](SendResult r) {
                std::scoped_lock hold(lock);
                told[which] = r;
                ++answers;
            };
        };
        reader.server->sendWithOutcome("127.0.0.40", large, tell(0));
        reader.server->sendWithOutcome("127.0.0.40", next, tell(1));

        const Bytes got = station.receive(large.size() + next.size(), 5000ms); // stops early at the end
        ASSERT_TRUE(waitUntil([&] {
            std::scoped_lock hold(lock);
            return answers == 2;
        }));
        std::scoped_lock hold(lock);
        EXPECT_EQ(told[0], c.told);
        if (told[0] == SendResult::Sent) {
            EXPECT_EQ(told[1], SendResult::Sent);
            ASSERT_EQ(got.size(), large.size() + next.size()) << "a command told Sent did not arrive whole";
            EXPECT_TRUE(std::equal(large.begin(), large.end(), got.begin()));
            EXPECT_TRUE(std::equal(next.begin(), next.end(), got.begin() + static_cast<std::ptrdiff_t>(large.size())));
        } else {
            EXPECT_NE(told[1], SendResult::Sent);
            ASSERT_LT(got.size(), large.size());
            EXPECT_TRUE(std::equal(got.begin(), got.end(), large.begin())) << "not a part of the command";
            EXPECT_TRUE(station.seesClose(2000ms));
        }
    }
}

// Report processing whose disconnect handling looks at its link, and then applies a report of it
// as one read just before the end would reach processing after the handling.
class LookingSink : public StationReportSink
{
public:
    struct Seen
    {
        bool closed;
        bool lateReportApplied;
    };

    explicit LookingSink(ReportProcessor& processor) : m_processor(processor) {}

    bool applyReport(const StationLink& link, const StationReport& report) override
    {
        return m_processor.applyReport(link, report);
    }
    void stationDisconnected(const StationLink& link) override
    {
        const bool closed = link.isClosed();
        m_processor.stationDisconnected(link);
        StationReport late = runningStationReport();
        late.finish = late.start + 1.0 / 24;
        const bool applied = m_processor.applyReport(link, late);
        std::scoped_lock hold(m_lock);
        m_seen[link.address()].push_back({closed, applied});
    }

    std::map<std::string, std::vector<Seen>> seen() const
    {
        std::scoped_lock hold(m_lock);
        return m_seen;
    }

private:
    ReportProcessor& m_processor;
    mutable std::mutex m_lock;
    std::map<std::string, std::vector<Seen>> m_seen;
};

TEST(Reader, EveryWayAConnectionEndsMarksItClosedBeforeTheDisconnectHandling)
{
    enum class End
    {
        Close,
        Reset,
        CloseMidReport,
        Discovery,
        CommandsPastTheBound,
        CommandsPastTheTimeLimit,
        DiscoveryBeforeTheName,
    };
    struct Case
    {
        const char* name;
        End end;
        std::string address;
    };
    const std::vector<Case> cases = {
        {"the station closes", End::Close, "127.0.0.50"},
        {"the station resets", End::Reset, "127.0.0.51"},
        {"the station closes in the middle of a report", End::CloseMidReport, "127.0.0.52"},
        {"discovery closes it", End::Discovery, "127.0.0.53"},
        {"commands it does not read pass the bound", End::CommandsPastTheBound, "127.0.0.54"},
        {"commands it does not read pass the time limit", End::CommandsPastTheTimeLimit, "127.0.0.55"},
        {"discovery closes it before its name is known", End::DiscoveryBeforeTheName, "127.0.0.56"},
    };
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    struct Live
    {
        explicit Live(std::shared_future<void> nameOf56)
            : server(std::make_unique<TCPServer>()), state(*server), sink(state.processor)
        {
            server->setReportProcessor(&sink);
            server->setNameResolver([nameOf56](const std::string& address) {
                if (address == "127.0.0.56")
                    nameOf56.wait_for(10s);
                return "PC-" + address;
            });
            listening = server->listen(0);
        }
        ~Live() { server.reset(); }
        std::unique_ptr<TCPServer> server;
        LiveState state;
        LookingSink sink;
        bool listening = false;
    } live(released);
    ASSERT_TRUE(live.listening);

    std::vector<std::unique_ptr<StationSocket>> stations;
    for (const Case& c : cases) {
        stations.push_back(std::make_unique<StationSocket>(c.address, live.server->port(), 4096));
        ASSERT_TRUE(stations.back()->ok()) << c.name;
        if (c.end != End::DiscoveryBeforeTheName) {
            ASSERT_TRUE(stations.back()->send(runningReport()));
        }
    }
    // The station that sends nothing may be accepted after the others' reports are applied.
    ASSERT_TRUE(waitUntil([&] {
        return live.state.stationCount() == cases.size() - 1 && live.server->connectionCount() == cases.size();
    }));
    ASSERT_EQ(live.server->connectionCount(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].end == End::CommandsPastTheBound || cases[i].end == End::CommandsPastTheTimeLimit) {
            ASSERT_TRUE(shrinkServerSendBuffer(*stations[i])) << cases[i].name;
        }
    }

    const Bytes report = runningReport();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        StationSocket& station = *stations[i];
        switch (cases[i].end) {
        case End::Close:
            station.close();
            break;
        case End::Reset:
            station.reset();
            break;
        case End::CloseMidReport:
            ASSERT_TRUE(station.send(Bytes(report.begin(), report.begin() + 50)));
            station.close();
            break;
        case End::Discovery:
        case End::DiscoveryBeforeTheName:
            ASSERT_TRUE(live.server->closeFirstConnectionFrom(cases[i].address));
            break;
        case End::CommandsPastTheBound:
            EXPECT_EQ(live.server->sendToAddress(cases[i].address, Bytes(4 * TCPServer::MaxPendingCommandBytes)),
                      SendResult::NotDelivered);
            break;
        case End::CommandsPastTheTimeLimit:
            live.server->sendToAddress(cases[i].address, Bytes(TCPServer::MaxPendingCommandBytes - 4096));
            break;
        }
    }
    release.set_value();
    ASSERT_TRUE(
        waitUntil([&] { return live.sink.seen().size() == cases.size(); }, TCPServer::PendingCommandLimit + 5000ms));
    ASSERT_TRUE(waitUntil([&] { return live.server->connectionCount() == 0; }));

    const auto seen = live.sink.seen();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto it = seen.find(c.address);
        ASSERT_NE(it, seen.end());
        ASSERT_EQ(it->second.size(), 1u) << "the disconnect handling ran more than once";
        EXPECT_TRUE(it->second[0].closed) << "the handling ran on a link that still read as open";
        EXPECT_FALSE(it->second[0].lateReportApplied) << "a report after the handling was applied";
        EXPECT_FALSE(live.state.stationRow("PC-" + c.address));
    }
    EXPECT_EQ(live.state.stationCount(), 0u);
}

} // namespace
} // namespace ostrel
