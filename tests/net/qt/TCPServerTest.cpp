#include "NetQtTestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace ostrel {
namespace {

using namespace nettest;
using namespace std::chrono_literals;

TEST(TCPServer, AppliesReportsOverLoopback)
{
    LiveServer live;
    ASSERT_TRUE(live.listening);
    const Bytes report = runningReport();

    StationSocket split("127.0.0.2", live.port());
    StationSocket pair("127.0.0.3", live.port());
    StationSocket noisy("127.0.0.4", live.port());
    ASSERT_TRUE(split.ok() && pair.ok() && noisy.ok());

    ASSERT_TRUE(split.send(Bytes(report.begin(), report.begin() + 30)));
    ASSERT_TRUE(pair.send(concat({report, closedReport()})));
    ASSERT_TRUE(noisy.send(concat({{0x01, 0x02, 0x48}, Bytes(100, 0x7F), report})));
    processFor(50ms); // the first part reaches a reader on its own
    ASSERT_TRUE(split.send(Bytes(report.begin() + 30, report.end())));

    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 4; }));
    EXPECT_EQ(live.state.stationCount(), 3u);
    const auto row = live.state.stationRow("PC-127.0.0.2");
    ASSERT_TRUE(row);
    EXPECT_EQ((*row)[ColAddress], "127.0.0.2");
    EXPECT_EQ((*row)[ColStatus], "Tariff");
    // Reports of one connection are applied in the order they came: the closed report was last.
    EXPECT_EQ((*live.state.stationRow("PC-127.0.0.3"))[ColStatus], words::Closed);
    EXPECT_TRUE(live.state.stationRow("PC-127.0.0.4"));
}

TEST(TCPServer, ManyReportsOfOneStationAreAppliedInOrder)
{
    LiveServer live;
    StationSocket station("127.0.0.2", live.port());
    ASSERT_TRUE(station.ok());
    Bytes burst;
    constexpr int Count = 2000;
    for (int i = 0; i < Count; ++i) {
        const Bytes r = runningReport(1.0 + i);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    ASSERT_TRUE(station.send(burst));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == Count; }));
    EXPECT_EQ((*live.state.stationRow("PC-127.0.0.2"))[ColPrice], "2000,00");
}

TEST(TCPServer, EveryWayAConnectionEndsRunsTheDisconnectHandling)
{
    enum class End
    {
        Orderly,
        Reset,
        MidReport,
        Discovery,
    };
    struct Case
    {
        const char* name;
        End end;
        bool running;
        std::size_t loggedResets;
    };
    const std::vector<Case> cases = {
        {"orderly close of a running session", End::Orderly, true, 1},
        {"reset of a running session", End::Reset, true, 1},
        {"close in the middle of a report", End::MidReport, true, 1},
        {"closed by the server", End::Discovery, true, 1},
        {"orderly close of a closed station", End::Orderly, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LiveServer live;
        StationSocket station("127.0.0.5", live.port());
        ASSERT_TRUE(station.ok());
        ASSERT_TRUE(station.send(c.running ? runningReport() : closedReport()));
        ASSERT_TRUE(processUntil([&] { return live.state.applied() == 1; }));

        switch (c.end) {
        case End::Orderly:
            station.close();
            break;
        case End::Reset:
            station.reset();
            break;
        case End::MidReport: {
            const Bytes report = runningReport();
            station.send(Bytes(report.begin(), report.begin() + 50));
            station.close();
            break;
        }
        case End::Discovery:
            EXPECT_TRUE(live.server->closeFirstConnectionFrom("127.0.0.5"));
            // The disconnect handling has already run when the call returns.
            EXPECT_EQ(live.state.stationCount(), 0u);
            EXPECT_TRUE(station.seesClose(2000ms));
            break;
        }
        ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 0; }));
        EXPECT_EQ(live.state.stationCount(), 0u);
        const auto sessions = live.state.sessions();
        ASSERT_EQ(sessions.size(), c.loggedResets);
        if (c.loggedResets) {
            EXPECT_EQ(sessions.back()[ColComputer], "PC-127.0.0.5");
            EXPECT_EQ(sessions.back()[HistoryColComment], "Reset");
            EXPECT_EQ(live.state.logSize(), 168u);
        }
        EXPECT_EQ(live.state.applied(), 1u);
    }
}

TEST(TCPServer, CommandGoesToTheFirstOpenConnectionFromTheAddress)
{
    LiveServer live;
    const Bytes command(48, 0xAB);
    EXPECT_EQ(live.server->sendToAddress("127.0.0.6", command), SendResult::NoConnection);

    StationSocket first("127.0.0.6", live.port());
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 1; }));
    StationSocket second("127.0.0.6", live.port());
    StationSocket other("127.0.0.7", live.port());
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 3; }));

    EXPECT_EQ(live.server->sendToAddress("127.0.0.6", command), SendResult::Sent);
    EXPECT_EQ(first.receive(48, 2000ms), command);
    EXPECT_TRUE(second.receive(1, 50ms).empty());
    EXPECT_TRUE(other.receive(1, 0ms).empty());
    EXPECT_EQ(live.server->sendToAddress("127.0.0.60", command), SendResult::NoConnection);

    // Once the first is gone the next one from that address receives.
    first.close();
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 2; }));
    EXPECT_EQ(live.server->sendToAddress("127.0.0.6", command), SendResult::Sent);
    EXPECT_EQ(second.receive(48, 2000ms), command);
}

TEST(TCPServer, FailedSendClosesTheConnectionAndRunsTheDisconnectHandling)
{
    LiveServer live;
    StationSocket station("127.0.0.8", live.port(), 4096);
    ASSERT_TRUE(station.send(runningReport()));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 1; }));
    // A station that stops reading: commands fill its window until a send fails.
    const Bytes command(48, 0x11);
    bool closed = false;
    for (int i = 0; i < 1'000'000 && !closed; ++i) {
        live.server->sendToAddress("127.0.0.8", command);
        closed = live.server->connectionCount() == 0;
    }
    ASSERT_TRUE(closed);
    EXPECT_EQ(live.state.stationCount(), 0u);
    EXPECT_EQ(live.state.sessions().size(), 1u);
    EXPECT_EQ(live.server->sendToAddress("127.0.0.8", command), SendResult::NoConnection);
}

TEST(TCPServer, ListenFailsOnAPortThatIsTaken)
{
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto local = loopback("127.0.0.1", 0);
    ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::listen(holder, 1), 0);
    TCPServer server;
    EXPECT_FALSE(server.listen(boundPort(holder)));
    EXPECT_FALSE(server.isListening());
    ::close(holder);
}

TEST(TCPServer, ShutdownLogsNothingAndLeavesNoReaderBehind)
{
    LiveServer live;
    StationSocket station("127.0.0.9", live.port());
    ASSERT_TRUE(station.send(runningReport()));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 1; }));
    // Data still arriving while the listener goes away.
    Bytes burst;
    for (int i = 0; i < 500; ++i) {
        const auto r = runningReport();
        burst.insert(burst.end(), r.begin(), r.end());
    }
    station.send(burst);
    QCoreApplication::processEvents();
    live.server->stop();
    live.server->stop(); // a second stop, as the server's destructor makes after aboutToQuit's
    EXPECT_FALSE(live.server->isListening());
    EXPECT_EQ(live.server->connectionCount(), 0u);
    EXPECT_EQ(live.server->sendToAddress("127.0.0.9", Bytes(48, 1)), SendResult::NoConnection);
    live.server.reset();
    EXPECT_TRUE(live.state.sessions().empty());
    EXPECT_EQ(live.state.logSize(), 0u);
    EXPECT_TRUE(station.seesClose(2000ms));
}

TEST(TCPServer, ABurstOfConnectsWaitsInTheQueueInsteadOfBeingDropped)
{
    // Stations that all come back at once (after a power failure, or hundreds of simulated ones):
    // while the main thread is busy, the kernel must hold their connections for it. A short queue
    // drops them silently instead, and a station that believes it is connected sends reports that
    // the server reads seconds later, or never if the station resets first.
    constexpr int Stations = 40;
    LiveServer live;
    ASSERT_TRUE(live.listening);
    std::vector<int> fds;
    for (int i = 0; i < Stations; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        fds.push_back(fd);
        const auto local = loopback("127.0.2." + std::to_string(i + 1), 0);
        const auto server = loopback("127.0.0.1", live.port());
        ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
        const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server);
        ASSERT_TRUE(rc == 0 || errno == EINPROGRESS);
    }
    // No event is processed yet: nothing has been accepted, and every handshake must still complete.
    const auto deadline = std::chrono::steady_clock::now() + 3000ms;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const int fd = fds[i];
        pollfd p{fd, POLLOUT, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        ASSERT_EQ(poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))), 1)
            << "connection " << i << " was not taken into the listener's queue";
        int error = -1;
        socklen_t length = sizeof error;
        ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length), 0);
        ASSERT_EQ(error, 0);
        const Bytes report = closedReport();
        ASSERT_EQ(::send(fd, report.data(), report.size(), MSG_NOSIGNAL), static_cast<ssize_t>(report.size()));
    }
    EXPECT_TRUE(processUntil([&] { return live.state.stationCount() == Stations; }))
        << live.state.stationCount() << " of " << Stations << " stations seen";
    for (const int fd : fds)
        ::close(fd);
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 0; }));
}

TEST(TCPServer, OutOfDescriptorsBacksOffInsteadOfSpinning)
{
    LiveServer live;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // An accept() holds the lowest free descriptor number while it runs, even one that finds no
    // connection. A first station comes and goes, so the network thread has made its first
    // accepts and waits for the next connection when the probe below takes that number.
    {
        StationSocket first("127.0.0.9", live.port());
        ASSERT_TRUE(first.ok());
        ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 1; }));
    }
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 0; }));

    // The station's socket exists before the limit falls; its connection comes after, so the
    // network thread, which accepts at once, meets a process with no descriptor left.
    const int station = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(station, 0);
    const auto local = loopback("127.0.0.10", 0);
    ASSERT_EQ(bind(station, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    // No descriptor left for accept(): every number up to the limit is in use.
    const int probe = dup(station);
    ASSERT_GE(probe, 0);
    ::close(probe);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(probe);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const auto server = loopback("127.0.0.1", live.port());
    ASSERT_EQ(connect(station, reinterpret_cast<const sockaddr*>(&server), sizeof server), 0); // in the backlog

    // Three failed accepts with the connection waiting, then what they took is read while the limit
    // still holds: restored, the next retry takes the connection at once.
    const auto before = std::chrono::steady_clock::now();
    const auto backOffsBefore = live.server->acceptBackOffs();
    const bool failedThrice = processUntil([&] { return live.server->acceptBackOffs() - backOffsBefore >= 3; });
    const auto backOffs = live.server->acceptBackOffs() - backOffsBefore;
    const auto waited = std::chrono::steady_clock::now() - before;
    const auto accepted = live.server->connectionCount();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);

    ASSERT_TRUE(failedThrice) << backOffs << " failed accepts";
    EXPECT_EQ(accepted, 0u);
    // Each failed accept rests 100 ms; a listener that spins fails thousands of times instead. A
    // slow machine only makes the count smaller.
    EXPECT_LE(backOffs, static_cast<std::uint64_t>(waited / 100ms) + 2) << "the listener spun on accept()";
    // With descriptors back, the pending connection is taken.
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 1; }));
    ::close(station);
}

} // namespace
} // namespace ostrel
