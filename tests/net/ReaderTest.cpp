#include "net/Connection.h"
#include "net/ConnectionList.h"
#include "net/ReaderGate.h"
#include "net/TThreadOnRead.h"

#include "support/NetTestSupport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace ostrel {
namespace {

using namespace nettest;
using Outcome = TThreadOnRead::Outcome;

// One end of a socket pair is the station; the other is the server's connection.
struct Pair
{
    explicit Pair(LiveState& state, std::string address = "127.0.0.9")
    {
        int fds[2] = {-1, -1};
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        station = fds[1];
        connection = std::make_shared<Connection>(fds[0], std::move(address), [this, &state](Connection& c) {
            ++disconnects;
            state.processor.stationDisconnected(c);
        });
        connection->lookUpHostName([](const std::string&) { return std::string("PC9"); });
    }
    ~Pair()
    {
        if (station >= 0)
            ::close(station);
    }
    void write(const Bytes& bytes) const
    {
        ASSERT_EQ(::send(station, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }

    int station = -1;
    std::shared_ptr<Connection> connection;
    std::atomic<int> disconnects{0};
};

TEST(Reader, ReassemblesReportsWhateverTheSegmentation)
{
    const Bytes report = runningReport();
    const Bytes head(report.begin(), report.begin() + 44);
    const Bytes tail(report.begin() + 44, report.end());
    Bytes oneByteAtATime;

    struct Case
    {
        const char* name;
        std::vector<Bytes> receives;
        std::vector<std::uint64_t> appliedAfterEach;
    };
    std::vector<Case> cases = {
        {"split over two receives", {head, tail}, {0, 1}},
        {"two reports in one receive", {concat({report, report})}, {2}},
        {"a report and a half, then the rest", {concat({report, head}), tail}, {1, 2}},
        {"garbage before a report", {concat({{0x00, 0xFF, 0x02, 0x48, 0x48}, report})}, {1}},
        {"a damaged report between two good ones", {concat({report, Bytes(88, 0x55), report})}, {2}},
    };
    Case bytewise{"one byte at a time", {}, {}};
    for (std::size_t i = 0; i < report.size(); ++i) {
        bytewise.receives.push_back({report[i]});
        bytewise.appliedAfterEach.push_back(i + 1 == report.size() ? 1 : 0);
    }
    cases.push_back(bytewise);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoTransport transport;
        LiveState state(transport);
        Pair pair(state);
        for (std::size_t i = 0; i < c.receives.size(); ++i) {
            pair.write(c.receives[i]);
            EXPECT_EQ(TThreadOnRead::readAvailable(*pair.connection, state.processor, 1 << 20), Outcome::Drained);
            EXPECT_EQ(state.applied(), c.appliedAfterEach[i]) << "after receive " << i;
        }
        const auto row = state.stationRow("PC9");
        ASSERT_TRUE(row);
        EXPECT_EQ((*row)[ColAddress], "127.0.0.9");
        EXPECT_EQ((*row)[ColStatus], "Tariff");
        EXPECT_EQ(pair.disconnects, 0);
    }
}

TEST(Reader, EndOfStreamClosesOnceAndLogsARunningSession)
{
    struct Case
    {
        const char* name;
        Bytes before;
        std::size_t sessionsLogged;
    };
    const Bytes report = runningReport();
    const std::vector<Case> cases = {
        {"mid-report, nothing applied", Bytes(report.begin(), report.begin() + 40), 0},
        {"after a running session", report, 1},
        {"after a closed station", closedReport(), 0},
        {"a running session, then half a report", concat({report, Bytes(report.begin(), report.begin() + 40)}), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NoTransport transport;
        LiveState state(transport);
        Pair pair(state);
        pair.write(c.before);
        ::shutdown(pair.station, SHUT_WR);
        EXPECT_EQ(TThreadOnRead::readAvailable(*pair.connection, state.processor, 1 << 20), Outcome::Closed);
        EXPECT_TRUE(pair.connection->isClosed());
        EXPECT_EQ(pair.disconnects, 1);
        EXPECT_EQ(state.stationCount(), 0u);
        const auto sessions = state.sessions();
        ASSERT_EQ(sessions.size(), c.sessionsLogged);
        if (!sessions.empty()) {
            EXPECT_EQ(sessions.back()[HistoryColComment], "Reset");
            EXPECT_EQ(state.logSize(), 168u);
        }
        // A second close, from anywhere, changes nothing.
        pair.connection->close();
        EXPECT_EQ(pair.disconnects, 1);
        EXPECT_EQ(state.sessions().size(), c.sessionsLogged);
    }
}

TEST(Reader, TakesAtMostItsShareAndLeavesTheRestForTheNextRun)
{
    NoTransport transport;
    LiveState state(transport);
    Pair pair(state);
    const Bytes report = runningReport();
    pair.write(concat({report, report, report}));
    EXPECT_EQ(TThreadOnRead::readAvailable(*pair.connection, state.processor, 100), Outcome::Drained);
    EXPECT_EQ(state.applied(), 1u);
    EXPECT_EQ(TThreadOnRead::readAvailable(*pair.connection, state.processor, 1 << 20), Outcome::Drained);
    EXPECT_EQ(state.applied(), 3u);
}

TEST(Reader, AReportOfAClosedConnectionDoesNotBringItsRowBack)
{
    NoTransport transport;
    LiveState state(transport);
    Pair pair(state);
    pair.write(runningReport());
    pair.connection->close();
    EXPECT_EQ(TThreadOnRead::readAvailable(*pair.connection, state.processor, 1 << 20), Outcome::Closed);
    EXPECT_EQ(state.stationCount(), 0u);
}

TEST(Connection, RacingClosesRunTheDisconnectHandlingExactlyOnce)
{
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> handled{0};
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        auto c = std::make_shared<Connection>(fds[0], "127.0.0.2", [&](Connection&) { ++handled; });
        std::vector<std::thread> closers;
        for (int i = 0; i < 4; ++i)
            closers.emplace_back([c] { c->close(); });
        for (auto& t : closers)
            t.join();
        EXPECT_EQ(handled, 1);
        ::close(fds[1]);
    }
}

TEST(Connection, NameIsTheAddressUntilLookedUpAndWhenTheLookUpFails)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Connection c(fds[0], "127.0.0.4", {});
    EXPECT_EQ(c.hostName(), "127.0.0.4");
    c.lookUpHostName([](const std::string&) { return std::string(); });
    EXPECT_TRUE(c.hostNameKnown());
    EXPECT_EQ(c.hostName(), "127.0.0.4");
    ::close(fds[1]);
    EXPECT_EQ(reverseLookUp("not an address"), "not an address");
}

TEST(Connection, SilentCloseSkipsTheDisconnectHandlingAndRefusesSends)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    int handled = 0;
    Connection c(fds[0], "127.0.0.4", [&](Connection&) { ++handled; });
    const std::uint8_t byte = 1;
    EXPECT_TRUE(c.sendBytes(std::span(&byte, 1)));
    c.closeSilently();
    c.close();
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(c.sendBytes(std::span(&byte, 1)));
    ::close(fds[1]);
}

TEST(ConnectionList, FirstOpenConnectionInAcceptOrder)
{
    auto make = [](const std::string& address) {
        int fds[2];
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        ::close(fds[1]);
        return std::make_shared<Connection>(fds[0], address, Connection::CloseHandler{});
    };
    ConnectionList list;
    const auto a1 = make("127.0.0.2");
    const auto b = make("127.0.0.3");
    const auto a2 = make("127.0.0.2");
    list.add(a1);
    list.add(b);
    list.add(a2);
    EXPECT_EQ(list.firstOpenFrom("127.0.0.2"), a1);
    EXPECT_EQ(list.firstOpenFrom("127.0.0.3"), b);
    EXPECT_EQ(list.firstOpenFrom("127.0.0.20"), nullptr); // exact text, not a prefix
    EXPECT_EQ(list.firstOpenFrom("127.0.0"), nullptr);
    a1->close(); // still listed until its handling removes it, but no longer open
    EXPECT_EQ(list.firstOpenFrom("127.0.0.2"), a2);
    list.remove(a1.get());
    EXPECT_EQ(list.size(), 2u);
}

TEST(ReaderGate, StopWaitsForWorkAndRefusesMore)
{
    auto gate = std::make_shared<ReaderGate>();
    gate->threadStarted();
    ASSERT_TRUE(gate->beginWork());
    std::atomic<bool> workDone{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        workDone = true;
        gate->endWork();
    });
    // The thread is still counted after its work: stop gives up on it after the bounded wait.
    EXPECT_FALSE(gate->stop(std::chrono::milliseconds(10)));
    EXPECT_TRUE(workDone);
    EXPECT_FALSE(gate->beginWork());
    gate->threadEnded();
    EXPECT_EQ(gate->runningThreads(), 0);
    worker.join();
}

} // namespace
} // namespace ostrel

namespace ostrel {
namespace {

using namespace nettest;

TEST(ReaderPool, RunsEveryReaderAndEndsItsThreadsWhenIdle)
{
    NoTransport transport;
    LiveState state(transport);
    auto gate = std::make_shared<ReaderGate>();
    auto pool = ReaderPool::create(std::chrono::milliseconds(20));
    constexpr int Stations = 24;
    std::vector<std::unique_ptr<Pair>> pairs;
    std::atomic<int> done{0};
    for (int i = 0; i < Stations; ++i) {
        pairs.push_back(std::make_unique<Pair>(state, "127.0.0." + std::to_string(i + 2)));
        pairs.back()->write(runningReport());
    }
    for (auto& p : pairs) {
        TThreadOnRead::start(*pool,
                             std::make_unique<TThreadOnRead>(
                                 p->connection, gate, state.processor, Connection::NameResolver{},
                                 [&](TThreadOnRead::Outcome o) { done += o == TThreadOnRead::Outcome::Drained; }));
    }
    // More stations than the pool may have threads: the rest queue for a free one.
    int peak = pool->threads();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((done < Stations || pool->threads() > 0 || gate->runningThreads() > 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        peak = std::max(peak, pool->threads());
    }
    static_assert(Stations > ReaderPool::MaxThreads);
    EXPECT_LE(peak, ReaderPool::MaxThreads);
    EXPECT_EQ(done, Stations);
    EXPECT_EQ(state.applied(), std::uint64_t(Stations));
    EXPECT_EQ(pool->threads(), 0);
    EXPECT_EQ(gate->runningThreads(), 0);
}

} // namespace
} // namespace ostrel
