// Stations that misbehave on purpose, each beside well-behaved ones that must go on being served.

#include "NetQtTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

namespace ostrel {
namespace {

using namespace nettest;
using namespace std::chrono_literals;

// A peer that connects again and again, letting the server accept in between, until the process
// has no descriptor left. Its connections close with it. It spreads them over addresses that differ
// from `from` (127.0.x.y) in the second octet, so the server keeps every one instead of closing
// those beyond its share per address.
class DescriptorHog
{
public:
    DescriptorHog(LiveServer& live, const std::string& from)
    {
        const std::size_t others = live.server->connectionCount();
        for (int i = 0; i < 1000; ++i) {
            const auto k = static_cast<std::size_t>(i) / TCPServer::MaxConnectionsPerAddress;
            const int fd = connectWithoutWaiting("127." + std::to_string(k) + from.substr(5), live.port());
            if (fd < 0) {
                m_exhausted = errno == EMFILE;
                break;
            }
            m_fds.push_back(fd);
            processUntil([&] { return live.server->connectionCount() == others + m_fds.size(); }, 200ms);
        }
    }
    ~DescriptorHog() { release(); }
    DescriptorHog(const DescriptorHog&) = delete;
    DescriptorHog& operator=(const DescriptorHog&) = delete;

    bool exhausted() const { return m_exhausted && !m_fds.empty(); }
    std::size_t connections() const { return m_fds.size(); }
    void add(int fd) { m_fds.push_back(fd); }
    void release()
    {
        for (const int fd : m_fds)
            ::close(fd);
        m_fds.clear();
    }

private:
    std::vector<int> m_fds;
    bool m_exhausted = false;
};

// Sends all of `bytes` without ever blocking the event loop the server runs on.
bool sendWhileServing(int fd, const Bytes& bytes, std::chrono::milliseconds timeout = 10s)
{
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double priceCell(const LiveServer& live, const std::string& name)
{
    const auto row = live.state.stationRow(name);
    if (!row)
        return -1;
    std::string text = (*row)[ColPrice];
    std::replace(text.begin(), text.end(), ',', '.');
    return std::strtod(text.c_str(), nullptr);
}

TEST(HostileStation, PeerThatTakesEveryDescriptorNeitherSpinsTheServerNorStarvesOthers)
{
    LiveServer live;
    StationSocket good("127.0.0.2", live.port());
    ASSERT_TRUE(good.send(runningReport(1.0)));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 1; }));

    DescriptorLimit limit;
    ASSERT_TRUE(limit.leave(60));
    // One descriptor held back for the peer's last connection, which then waits in the backlog with
    // nothing to accept it into.
    const int reserve = dup(0);
    ASSERT_GE(reserve, 0);
    DescriptorHog peer(live, "127.0.0.3");
    ASSERT_TRUE(peer.exhausted());
    ::close(reserve);
    const int last = connectWithoutWaiting("127.0.0.3", live.port());
    ASSERT_GE(last, 0);
    peer.add(last);
    EXPECT_LT(live.server->connectionCount(), peer.connections() + 1);

    const auto before = std::chrono::steady_clock::now();
    const auto backOffsBefore = live.server->acceptBackOffs();
    ASSERT_TRUE(good.send(runningReport(2.0)));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 2; }))
        << "a station already connected must be served while the listener cannot accept";
    processFor(400ms);
    const auto backOffs = live.server->acceptBackOffs() - backOffsBefore;
    const auto waited = std::chrono::steady_clock::now() - before;
    // Each failed accept rests 100 ms; a listener that spins fails thousands of times instead.
    EXPECT_LE(backOffs, static_cast<std::uint64_t>(waited / 100ms) + 2) << "the listener spun on accept()";
    EXPECT_EQ(priceCell(live, "PC-127.0.0.2"), 2.0);

    // The peer gives up. Under the same tight limit the server drops its connections, takes the one
    // left pending, and a new station is served as usual.
    peer.release();
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 1; }, 10000ms))
        << live.server->connectionCount() << " connections left";
    StationSocket late("127.0.0.4", live.port());
    ASSERT_TRUE(late.ok());
    ASSERT_TRUE(late.send(runningReport(3.0)));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 3; }));
    EXPECT_EQ(live.state.stationCount(), 2u);
    EXPECT_TRUE(live.state.sessions().empty()) << "the peer sent no report, so no session was closed";
}

TEST(HostileStation, SessionThatEndsWhileAPeerHoldsEveryDescriptorIsStillLogged)
{
    LiveServer live;
    // One session ends before the descriptors run out: in a sanitizer build the first check of a
    // dynamic type on that path needs a descriptor of its own, later ones hit a cache.
    {
        StationSocket first("127.0.0.18", live.port());
        ASSERT_TRUE(first.send(runningReport()));
        ASSERT_TRUE(processUntil([&] { return live.state.applied() == 1; }));
    }
    ASSERT_TRUE(processUntil([&] { return live.state.sessions().size() == 1; }));
    StationSocket station("127.0.0.13", live.port());
    ASSERT_TRUE(station.send(runningReport()));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 2; }));

    DescriptorLimit limit;
    ASSERT_TRUE(limit.leave(40));
    DescriptorHog peer(live, "127.0.0.14");
    ASSERT_TRUE(peer.exhausted());
    // The station goes away (its socket stays open here, so no descriptor comes free) and the
    // disconnect handling must append its session although no descriptor is left to open the log.
    ASSERT_EQ(shutdown(station.fd(), SHUT_WR), 0);
    ASSERT_TRUE(processUntil([&] { return live.state.stationCount() == 0; }));
    const auto sessions = live.state.sessions();
    ASSERT_EQ(sessions.size(), 2u) << "the session was lost";
    EXPECT_EQ(sessions[1][ColComputer], "PC-127.0.0.13");
    EXPECT_EQ(live.state.logSize(), 2 * 168u);
    EXPECT_EQ(live.state.processor.failedLogs(), 0u);

    // And the next one too: the log keeps its way out after using it once.
    peer.release();
    StationSocket second("127.0.0.15", live.port());
    ASSERT_TRUE(second.send(runningReport()));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 3; }));
    DescriptorHog again(live, "127.0.0.14");
    ASSERT_TRUE(again.exhausted());
    ASSERT_EQ(shutdown(second.fd(), SHUT_WR), 0);
    ASSERT_TRUE(processUntil([&] { return live.state.stationCount() == 0; }));
    EXPECT_EQ(live.state.sessions().size(), 3u);
    EXPECT_EQ(live.state.logSize(), 3 * 168u);
}

TEST(HostileStation, ConnectAndResetChurnLeavesNoConnectionBehind)
{
    LiveServer live;
    StationSocket good("127.0.0.16", live.port());
    ASSERT_TRUE(good.ok());
    const Bytes report = runningReport();
    constexpr int Cycles = 500;
    for (int i = 0; i < Cycles; ++i) {
        StationSocket churn("127.0.0.17", live.port());
        ASSERT_TRUE(churn.ok());
        // Some reset at once, some with half a report sent, some after a whole one.
        if (i % 3 == 1)
            churn.send(Bytes(report.begin(), report.begin() + 40));
        if (i % 3 == 2)
            churn.send(report);
        if (i % 2 == 0)
            QCoreApplication::processEvents();
        churn.reset();
        if (i % 50 == 0) {
            ASSERT_TRUE(good.send(runningReport(1.0 + i)));
            ASSERT_TRUE(processUntil([&] { return priceCell(live, "PC-127.0.0.16") == 1.0 + i; }))
                << "the steady station waited behind the churn";
        }
        if (i % 4 == 3) // the backlog is short; let the listener catch up
            processUntil([&] { return live.server->connectionCount() <= 2; }, 200ms);
    }
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 1; }, 10000ms))
        << live.server->connectionCount() << " connections left";
    EXPECT_EQ(live.state.stationCount(), 1u);
    // Only connections whose whole report was applied had a session to log.
    for (const auto& session : live.state.sessions())
        EXPECT_EQ(session[ColComputer], "PC-127.0.0.17");
    EXPECT_LE(live.state.sessions().size(), static_cast<std::size_t>(Cycles / 3));
}

TEST(HostileStation, OneByteASecondHoldsUpNobody)
{
    LiveServer live;
    StationSocket slow("127.0.0.5", live.port());
    StationSocket good("127.0.0.6", live.port());
    ASSERT_TRUE(slow.ok() && good.ok());
    const Bytes report = runningReport(7.0);

    int applied = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(slow.send(Bytes{report[i]}));
        // Meanwhile the other station's reports keep being applied as they come.
        for (int k = 0; k < 5; ++k) {
            ASSERT_TRUE(good.send(runningReport(1.0 + applied)));
            ++applied;
            ASSERT_TRUE(processUntil([&] { return live.state.applied() == static_cast<std::uint64_t>(applied); }))
                << "report " << applied << " waited behind the slow station";
            processFor(50ms);
        }
    }
    EXPECT_FALSE(live.state.stationRow("PC-127.0.0.5"));
    // The slow station's partial report was kept between its bytes: the rest completes it.
    ASSERT_TRUE(slow.send(Bytes(report.begin() + 3, report.end())));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == static_cast<std::uint64_t>(applied) + 1; }));
    EXPECT_EQ(priceCell(live, "PC-127.0.0.5"), 7.0);
    EXPECT_EQ(priceCell(live, "PC-127.0.0.6"), applied);
}

TEST(HostileStation, StationThatNeverReadsCostsOnlyItsOwnConnection)
{
    LiveServer live;
    StationSocket deaf("127.0.0.7", live.port(), 4096);
    StationSocket listener("127.0.0.8", live.port());
    StationSocket reporter("127.0.0.9", live.port());
    ASSERT_TRUE(deaf.send(runningReport()) && listener.send(runningReport()) && reporter.send(runningReport(1.0)));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 3; }));

    Bytes command(48);
    std::size_t commandsToListener = 0;
    Bytes received;
    bool deafClosed = false;
    for (int i = 0; i < 1'000'000 && !deafClosed; ++i) {
        command.assign(48, static_cast<std::uint8_t>(i));
        live.server->sendToAddress("127.0.0.7", command);
        deafClosed = !live.state.stationRow("PC-127.0.0.7");
        if (i % 256 == 0) {
            command.assign(48, static_cast<std::uint8_t>(commandsToListener));
            EXPECT_EQ(live.server->sendToAddress("127.0.0.8", command), SendResult::Sent);
            ++commandsToListener;
            const Bytes got = listener.receive(48, 2000ms);
            received.insert(received.end(), got.begin(), got.end());
        }
    }
    // Sends to a station that does not read never wait for it: its connection goes once the
    // commands it has not taken pass their bound.
    ASSERT_TRUE(deafClosed);
    // What the server had queued before it gave up may still be read; then the stream ends.
    deaf.receive(16 * 1024 * 1024, 2000ms);
    EXPECT_TRUE(deaf.seesClose(2000ms));

    // The listening station received every command it was sent, whole and in order.
    ASSERT_EQ(received.size(), commandsToListener * 48);
    for (std::size_t i = 0; i < received.size(); ++i)
        ASSERT_EQ(received[i], static_cast<std::uint8_t>(i / 48)) << "byte " << i;
    ASSERT_TRUE(reporter.send(runningReport(2.0)));
    ASSERT_TRUE(processUntil([&] { return live.state.applied() == 4; }));
    EXPECT_EQ(priceCell(live, "PC-127.0.0.9"), 2.0);
    ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == 2; }));
    const auto sessions = live.state.sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0][ColComputer], "PC-127.0.0.7");
    EXPECT_EQ(sessions[0][HistoryColComment], "Reset");
}

TEST(HostileStation, BurstsOverManyConnectionsAreEachAppliedInOrder)
{
    constexpr int Stations = 100;
    constexpr int PerStation = 300;
    std::mutex lock;
    std::map<std::string, double> lastPrice;
    std::atomic<int> outOfOrder{0};
    LiveServer live;
    // Reports of one connection must reach the processor in the order they were sent: each
    // station's prices rise by one.
    live.server->setReportObserver([&](const Connection& c, const StationReport& r) {
        std::scoped_lock hold(lock);
        double& last = lastPrice[c.address()];
        if (r.price != last + 1)
            ++outOfOrder;
        last = r.price;
    });
    ASSERT_TRUE(live.server->listen(0));

    std::vector<std::unique_ptr<StationSocket>> stations;
    for (int s = 0; s < Stations; ++s) {
        stations.push_back(std::make_unique<StationSocket>("127.0.1." + std::to_string(s + 1), live.port()));
        ASSERT_TRUE(stations.back()->ok());
        // The backlog is short: let each connection be accepted before the next.
        ASSERT_TRUE(processUntil([&] { return live.server->connectionCount() == stations.size(); }));
    }
    Bytes burst;
    for (int i = 0; i < PerStation; ++i) {
        const Bytes r = runningReport(1.0 + i);
        burst.insert(burst.end(), r.begin(), r.end());
    }
    for (const auto& s : stations)
        ASSERT_TRUE(sendWhileServing(s->fd(), burst));

    ASSERT_TRUE(processUntil([&] { return live.state.applied() == Stations * PerStation; }, 30000ms))
        << live.state.applied() << " of " << Stations * PerStation << " applied";
    EXPECT_EQ(outOfOrder.load(), 0);
    EXPECT_EQ(live.state.stationCount(), static_cast<std::size_t>(Stations));
    for (int s = 0; s < Stations; ++s)
        EXPECT_EQ(priceCell(live, "PC-127.0.1." + std::to_string(s + 1)), PerStation);
}

TEST(HostileStation, MegabytesWithoutASignatureAreDroppedAsTheyCome)
{
    constexpr std::size_t Chunk = 64 * 1024;
    constexpr std::size_t Chunks = 128; // 8 MiB
    struct Seen
    {
        std::size_t buffered;
        std::uint64_t dropped;
        std::uint64_t decoded;
    };
    std::mutex lock;
    std::vector<Seen> seen;
    LiveServer live;
    live.server->setReportObserver([&](const Connection& c, const StationReport&) {
        if (c.address() != "127.0.0.11")
            return;
        std::scoped_lock hold(lock);
        seen.push_back({c.stream().buffered(), c.stream().droppedBytes(), c.stream().decodedReports()});
    });
    ASSERT_TRUE(live.server->listen(0));
    StationSocket noisy("127.0.0.11", live.port());
    StationSocket good("127.0.0.12", live.port());
    ASSERT_TRUE(noisy.ok() && good.ok());

    // Garbage whose every chunk ends in the first two signature bytes, which must be held for the
    // next receive and then dropped with the rest.
    Bytes garbage(Chunk);
    for (std::size_t i = 0; i < Chunk; ++i)
        garbage[i] = static_cast<std::uint8_t>(0x10 + i % 0x30);
    garbage[Chunk - 2] = 0x02;
    garbage[Chunk - 1] = 0x48;
    for (std::size_t i = 0; i < Chunks; ++i) {
        ASSERT_TRUE(sendWhileServing(noisy.fd(), garbage)) << "chunk " << i;
        if (i % 16 == 0) {
            ASSERT_TRUE(good.send(runningReport(1.0 + static_cast<double>(i))));
            ASSERT_TRUE(processUntil([&] { return priceCell(live, "PC-127.0.0.12") == 1.0 + static_cast<double>(i); }));
        }
    }
    ASSERT_TRUE(sendWhileServing(noisy.fd(), runningReport(5.0)));
    ASSERT_TRUE(processUntil([&] { return priceCell(live, "PC-127.0.0.11") == 5.0; }, 10000ms));
    // The observer is told after the report is applied, so a moment after the cell shows it.
    processUntil([&] {
        std::scoped_lock hold(lock);
        return !seen.empty();
    });

    std::scoped_lock hold(lock);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].dropped, Chunk * Chunks);
    EXPECT_EQ(seen[0].decoded, 1u);
    EXPECT_EQ(seen[0].buffered, 0u) << "nothing of the garbage may stay behind the report";
    EXPECT_TRUE(live.server->connectionCount() == 2);
}

} // namespace
} // namespace ostrel
