#include "LoopbackSockets.h"
#include "Options.h"
#include "Simulator.h"
#include "core/UniqueFd.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::sim;
using namespace std::chrono_literals;

namespace {

using namespace ostrel::sim::testing;

using Clock = std::chrono::steady_clock;
using Record = std::array<std::uint8_t, StationReportSize>;

using Fd = UniqueFd;

std::string peerAddress(int fd)
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    return dotted(sa.sin_addr);
}

bool waitReadable(int fd, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(left)) > 0;
}

Fd listenOn(const char* address)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sa = loopback(address, 0);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd.get(), 16) != 0)
        return Fd();
    return fd;
}

Fd acceptWithin(int listener, std::chrono::milliseconds timeout)
{
    if (!waitReadable(listener, Clock::now() + timeout))
        return Fd();
    return Fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// Bytes until `count` have come or the peer closes; fewer on timeout or close.
std::vector<std::uint8_t> receive(int fd, std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = Clock::now() + timeout;
    while (bytes.size() < count && waitReadable(fd, deadline)) {
        std::uint8_t buffer[512];
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

std::optional<StationReport> receiveReport(int fd, std::chrono::milliseconds timeout = 3000ms)
{
    const auto bytes = receive(fd, StationReportSize, timeout);
    if (bytes.size() != StationReportSize)
        return std::nullopt;
    return decodeStationReport(std::span<const std::uint8_t, StationReportSize>(bytes.data(), StationReportSize));
}

// Reports until one satisfies `wanted`, within a bounded number and time.
template <typename Pred> std::optional<StationReport> receiveReportUntil(int fd, Pred wanted, int maxReports = 200)
{
    const auto deadline = Clock::now() + 5s;
    for (int i = 0; i < maxReports && Clock::now() < deadline; ++i) {
        auto report = receiveReport(fd);
        if (!report)
            return std::nullopt;
        if (wanted(*report))
            return report;
    }
    return std::nullopt;
}

void sendCommand(int fd, const StationCommand& command)
{
    const CommandBytes bytes = encodeStationCommand(command);
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// The simulator on its own thread, stopped and joined when the test ends however it ends.
class RunningSimulator
{
public:
    explicit RunningSimulator(SimulatorOptions options) : m_simulator(std::move(options), m_log)
    {
        std::string error;
        m_opened = m_simulator.open(error);
        if (m_opened)
            m_thread = std::thread([this] { m_simulator.run(); });
    }
    ~RunningSimulator() { join(); }
    bool opened() const { return m_opened; }
    // Waits for a run bounded by its own duration.
    void finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void join()
    {
        m_simulator.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    const SimulatorStats& stats() const { return m_simulator.stats(); } // after join()
    std::string log() const { return m_log.str(); }                     // after join()

private:
    std::ostringstream m_log;
    Simulator m_simulator;
    bool m_opened = false;
    std::thread m_thread;
};

SimulatorOptions directOptions(std::uint16_t port)
{
    SimulatorOptions options;
    options.discovery = false;
    options.serverAddress = "127.0.0.1";
    options.tcpPort = port;
    options.rate = 20;
    options.durationSeconds = 30; // a safety net: every test stops it long before
    options.powerOffSeconds = 0.3;
    options.rebootSeconds = 0.2;
    options.quiet = true;
    options.seed = 7;
    return options;
}

} // namespace

TEST(StationSimulatorLoopback, ReportsObeysStartPaidAndComesBackAfterPowerOff)
{
    Fd listener = listenOn("127.0.0.1");
    ASSERT_GE(listener.get(), 0);
    RunningSimulator simulator(directOptions(boundPort(listener.get())));
    ASSERT_TRUE(simulator.opened());

    Fd connection = acceptWithin(listener.get(), 5000ms);
    ASSERT_GE(connection.get(), 0);
    EXPECT_EQ(peerAddress(connection.get()), "127.0.0.2");
    const auto first = receiveReport(connection.get());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->statusCode, static_cast<std::int32_t>(StatusCode::Closed));

    sendCommand(connection.get(), StationCommand{CommandCode::cmdStartPaid, "\xD7\xE0\xF1", 2.5, 0});
    const auto running = receiveReportUntil(connection.get(), [](const StationReport& r) { return r.statusCode == 2; });
    ASSERT_TRUE(running);
    EXPECT_EQ(running->statusText, "\xD7\xE0\xF1");
    EXPECT_DOUBLE_EQ(running->price, 2.5);
    EXPECT_GT(running->start, 40'000.0); // a day number of this century
    const auto later = receiveReport(connection.get());
    ASSERT_TRUE(later);
    EXPECT_EQ(later->statusCode, 2);
    EXPECT_DOUBLE_EQ(later->start, running->start);
    EXPECT_GE(later->finish, running->finish);

    sendCommand(connection.get(), StationCommand{CommandCode::cmdPowerOff, {}, 0, 0});
    // Whatever was still on its way, the connection ends: recv reports the close.
    const auto drained = receive(connection.get(), 1 << 20, 3000ms);
    EXPECT_EQ(drained.size() % StationReportSize, 0u);
    connection.reset();

    Fd again = acceptWithin(listener.get(), 5000ms);
    ASSERT_GE(again.get(), 0) << "the station did not come back";
    EXPECT_EQ(peerAddress(again.get()), "127.0.0.2");
    const auto afterReset = receiveReport(again.get());
    ASSERT_TRUE(afterReset);
    EXPECT_EQ(afterReset->statusCode, static_cast<std::int32_t>(StatusCode::Closed));

    simulator.join();
    EXPECT_EQ(simulator.stats().commandsByCode.at(2), 1u);
    EXPECT_EQ(simulator.stats().commandsByCode.at(103), 1u);
    EXPECT_EQ(simulator.stats().reconnects, 1u);
}

TEST(StationSimulatorLoopback, FastClockEndsAGameOnTimeWithOneFinishedReport)
{
    Fd listener = listenOn("127.0.0.1");
    ASSERT_GE(listener.get(), 0);
    SimulatorOptions options = directOptions(boundPort(listener.get()));
    // Periodic reports 5 s apart: the finished report must come from the game's own end (after one
    // second) well within the 3 s that one receive waits.
    options.rate = 0.2;
    options.speed = 120; // a 2-minute game lasts a second
    RunningSimulator simulator(options);
    Fd connection = acceptWithin(listener.get(), 5000ms);
    ASSERT_GE(connection.get(), 0);
    ASSERT_TRUE(receiveReport(connection.get()));

    sendCommand(connection.get(), StationCommand{CommandCode::cmdStartGame, "Game", 2, 2.0 / 1440.0});
    const auto finished =
        receiveReportUntil(connection.get(), [](const StationReport& r) { return r.statusCode == 3; });
    ASSERT_TRUE(finished);
    EXPECT_NEAR((finished->finish - finished->start) * 1440.0, 2.0, 1e-6);
    const auto after = receiveReport(connection.get());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->statusCode, static_cast<std::int32_t>(StatusCode::Closed));
    simulator.join();
    EXPECT_EQ(simulator.stats().sessionsClosed, 1u);
}

TEST(StationSimulatorLoopback, ManyStationsConnectFromDistinctAddresses)
{
    Fd listener = listenOn("127.0.0.1");
    ASSERT_GE(listener.get(), 0);
    SimulatorOptions options = directOptions(boundPort(listener.get()));
    options.stations = 5;
    RunningSimulator simulator(options);
    ASSERT_TRUE(simulator.opened());
    std::set<std::string> addresses;
    std::vector<Fd> connections;
    for (int i = 0; i < 5; ++i) {
        connections.push_back(acceptWithin(listener.get(), 5000ms));
        ASSERT_GE(connections.back().get(), 0);
        addresses.insert(peerAddress(connections.back().get()));
        EXPECT_TRUE(receiveReport(connections.back().get()));
    }
    EXPECT_EQ(addresses, (std::set<std::string>{"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"}));
}

TEST(StationSimulatorLoopback, FaultModesStillCarryWholeReportsOrGarbageBetweenThem)
{
    const struct
    {
        const char* name;
        bool split, oneByte;
        double garbage;
    } cases[] = {{"split", true, false, 0}, {"one-byte", false, true, 0}, {"garbage", false, false, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fd listener = listenOn("127.0.0.1");
        ASSERT_GE(listener.get(), 0);
        SimulatorOptions options = directOptions(boundPort(listener.get()));
        options.split = c.split;
        options.oneByte = c.oneByte;
        options.garbage = c.garbage;
        RunningSimulator simulator(options);
        Fd connection = acceptWithin(listener.get(), 5000ms);
        ASSERT_GE(connection.get(), 0);
        const auto bytes = receive(connection.get(), 3 * StationReportSize + 48, 3000ms);
        ASSERT_EQ(bytes.size(), 3 * StationReportSize + 48);
        if (c.garbage > 0) {
            // Every report is preceded by 1 to 16 random bytes, so the stream does not open with one.
            EXPECT_FALSE(hasStationSignature(std::span(bytes).first(3)));
        } else {
            for (std::size_t at = 0; at < 3 * StationReportSize; at += StationReportSize)
                EXPECT_TRUE(hasStationSignature(std::span(bytes).subspan(at, 3))) << at;
        }
    }
}

TEST(StationSimulatorLoopback, DiscoveryConnectsToTheAddressTheAnswerCameFrom)
{
    // The answer comes from 127.0.0.9, not from where the question went: the station must use its source.
    Fd listener = listenOn("127.0.0.9");
    ASSERT_GE(listener.get(), 0);
    Fd question(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in questionAt = loopback("127.0.0.1", 0);
    ASSERT_EQ(::bind(question.get(), reinterpret_cast<const sockaddr*>(&questionAt), sizeof questionAt), 0);
    Fd answer(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in answerFrom = loopback("127.0.0.9", 0);
    ASSERT_EQ(::bind(answer.get(), reinterpret_cast<const sockaddr*>(&answerFrom), sizeof answerFrom), 0);
    // A free port for the station's side, found by binding and letting go of it.
    std::uint16_t clientPort = 0;
    {
        Fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        const sockaddr_in at = loopback("127.0.0.2", 0);
        ASSERT_EQ(::bind(probe.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
        clientPort = boundPort(probe.get());
    }

    SimulatorOptions options = directOptions(boundPort(listener.get()));
    options.discovery = true;
    options.serverAddress.clear();
    options.discoverAddress = "127.0.0.1";
    options.udpPort = boundPort(question.get());
    options.clientUdpPort = clientPort;
    RunningSimulator simulator(options);
    ASSERT_TRUE(simulator.opened());

    ASSERT_TRUE(waitReadable(question.get(), Clock::now() + 5s));
    char buffer[64];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ASSERT_GE(::recvfrom(question.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength), 0);
    EXPECT_EQ(dotted(from.sin_addr), "127.0.0.2");
    EXPECT_EQ(ntohs(from.sin_port), clientPort);

    const sockaddr_in station = loopback("127.0.0.2", clientPort);
    for (const std::string_view text : {std::string_view("Hello"), std::string_view("Hi Client")})
        ASSERT_EQ(::sendto(answer.get(), text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&station),
                           sizeof station),
                  static_cast<ssize_t>(text.size()));

    Fd connection = acceptWithin(listener.get(), 5000ms);
    ASSERT_GE(connection.get(), 0) << "no connection to the answering address";
    EXPECT_EQ(peerAddress(connection.get()), "127.0.0.2");
    EXPECT_TRUE(receiveReport(connection.get()));

    // A reboot sends it through discovery again before it reconnects.
    sendCommand(connection.get(), StationCommand{CommandCode::cmdReboot, {}, 0, 0});
    ASSERT_TRUE(waitReadable(question.get(), Clock::now() + 5s)) << "no discovery after the reboot";
}

TEST(StationSimulatorLoopback, AbsentServerIsRetriedWithGrowingPausesNotASpin)
{
    Fd listener = listenOn("127.0.0.1");
    const std::uint16_t port = boundPort(listener.get());
    listener.reset(); // nobody listens there now
    SimulatorOptions options = directOptions(port);
    options.durationSeconds = 2.0;
    RunningSimulator simulator(options);
    ASSERT_TRUE(simulator.opened());
    simulator.finish();
    // 0.5 s doubling with jitter: a handful of tries in two seconds, never hundreds.
    EXPECT_GE(simulator.stats().connectFailures, 2u);
    EXPECT_LE(simulator.stats().connectFailures, 5u);
    EXPECT_EQ(simulator.stats().connects, 0u);
}
