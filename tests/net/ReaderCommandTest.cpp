// Commands going out over loopback to stations that read slowly or not at all, and the ways a
// connection ends, each of which must mark it closed before its disconnect handling runs.

#include "net/TCPServer.h"

#include "ReaderTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ostrel {
namespace {

using namespace nettest;
using namespace readertest;
using namespace std::chrono_literals;

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
