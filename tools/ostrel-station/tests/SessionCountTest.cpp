// The simulator's count of closed sessions against a stand-in server that logs exactly as the real
// one does: "Ok" for every finished report (code 3) it applies, "Reset" for every connection that
// ends while its last applied report showed a session (codes 2, 3 and 5), and a discovery request
// closes the asking station's open connection before it is answered.
#include "LoopbackSockets.h"
#include "Options.h"
#include "Simulator.h"

#include "stations/ReportStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <list>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ostrel;
using namespace ostrel::sim;
using namespace std::chrono_literals;

namespace {

using namespace ostrel::sim::testing;

class CountingServer
{
public:
    explicit CountingServer(std::uint16_t clientUdpPort) : m_clientUdpPort(clientUdpPort)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in tcp = loopback("127.0.0.1", 0);
        m_ready = ::bind(m_listener, reinterpret_cast<const sockaddr*>(&tcp), sizeof tcp) == 0 &&
                  ::listen(m_listener, SOMAXCONN) == 0;
        m_udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in udp = loopback("127.0.0.1", 0);
        m_ready = m_ready && ::bind(m_udp, reinterpret_cast<const sockaddr*>(&udp), sizeof udp) == 0;
        if (m_ready)
            m_thread = std::thread([this] { loop(); });
    }
    ~CountingServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (Connection& c : m_connections)
            ::close(c.fd);
        ::close(m_listener);
        ::close(m_udp);
    }
    bool ready() const { return m_ready; }
    std::uint16_t tcpPort() const { return boundPort(m_listener); }
    std::uint16_t udpPort() const { return boundPort(m_udp); }
    std::uint64_t ok() const { return m_ok; }
    std::uint64_t reset() const { return m_reset; }
    std::size_t open() const { return m_open; }
    std::uint64_t discoveryCloses() const { return m_discoveryCloses; }

private:
    struct Connection
    {
        int fd;
        std::string address;
        ReportStream stream;
        std::int32_t lastCode = -1;
    };

    void loop()
    {
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listener, POLLIN, 0}, {m_udp, POLLIN, 0}};
            for (const Connection& c : m_connections)
                fds.push_back({c.fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN)
                accept();
            if (fds[1].revents & POLLIN)
                discovery();
            auto it = m_connections.begin();
            for (std::size_t i = 2; i < fds.size() && it != m_connections.end(); ++i) {
                // `discovery` may have closed connections: match by descriptor.
                while (it != m_connections.end() && it->fd != fds[i].fd)
                    ++it;
                if (it == m_connections.end())
                    break;
                if (fds[i].revents && !read(*it)) {
                    end(*it);
                    it = m_connections.erase(it);
                }
            }
            m_open = m_connections.size();
        }
    }

    void accept()
    {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        m_connections.push_back(Connection{fd, dotted(peer.sin_addr), {}, -1});
    }

    // Applies what arrived; false once the connection has ended.
    bool read(Connection& c)
    {
        std::uint8_t buffer[4096];
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        if (n <= 0)
            return false;
        for (const StationReport& report : c.stream.append(std::span(buffer, static_cast<std::size_t>(n)))) {
            if (report.statusCode == static_cast<std::int32_t>(StatusCode::Finished))
                ++m_ok;
            c.lastCode = report.statusCode;
        }
        return true;
    }

    void end(Connection& c)
    {
        if (reportLeavesSum(c.lastCode))
            ++m_reset;
        ::close(c.fd);
    }

    void discovery()
    {
        char buffer[64];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        if (::recvfrom(m_udp, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length) < 0)
            return;
        const std::string text = dotted(from.sin_addr);
        for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
            if (it->address == text) {
                // What arrived before the request is still applied, as the real server's reader has
                // by then.
                while (read(*it)) {
                    pollfd p{it->fd, POLLIN, 0};
                    if (::poll(&p, 1, 0) <= 0)
                        break;
                }
                ::shutdown(it->fd, SHUT_RDWR);
                end(*it);
                m_connections.erase(it);
                ++m_discoveryCloses;
                break;
            }
        }
        const sockaddr_in to = loopback(text.c_str(), m_clientUdpPort);
        ::sendto(m_udp, "Hi Client", 9, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    std::uint16_t m_clientUdpPort;
    int m_listener = -1;
    int m_udp = -1;
    bool m_ready = false;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_ok{0};
    std::atomic<std::uint64_t> m_reset{0};
    std::atomic<std::size_t> m_open{0};
    std::atomic<std::uint64_t> m_discoveryCloses{0};
    std::list<Connection> m_connections; // the server thread's only
    std::thread m_thread;
};

std::uint16_t freeUdpPortOn(const char* address)
{
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in at = loopback(address, 0);
    ::bind(probe, reinterpret_cast<const sockaddr*>(&at), sizeof at);
    const std::uint16_t port = boundPort(probe);
    ::close(probe);
    return port;
}

} // namespace

TEST(SessionCount, SimulatorCountsExactlyTheSessionsTheServerLogs)
{
    constexpr int Stations = 4;
    const std::uint16_t clientUdpPort = freeUdpPortOn("127.0.0.2");
    CountingServer server(clientUdpPort);
    ASSERT_TRUE(server.ready());

    SimulatorOptions options;
    options.discovery = true;
    options.discoverAddress = "127.0.0.1";
    options.tcpPort = server.tcpPort();
    options.udpPort = server.udpPort();
    options.clientUdpPort = clientUdpPort;
    options.stations = Stations;
    options.rate = 20;
    options.speed = 600; // a one-minute game lasts a tenth of a second
    options.durationSeconds = 4;
    options.dropAfterSeconds = 1.7;
    options.rebootSeconds = 0.2;
    options.logOffSeconds = 0.2;
    options.customerMinSeconds = 10;
    options.customerMaxSeconds = 60;
    options.garbage = 0.3;
    options.quiet = true;
    options.seed = 11;
    // Each way a session ends, and each way a connection ends, with reports split and junk between
    // them; the run ends with sessions still open, which the server logs as cut off.
    std::string error;
    const auto script = parseScript("0.3 local all 2 1,5 0 Paid\n"
                                    "0.5 local 1 5 2 1 Game\n"
                                    "0.6 local 2 3 1 0 Wait\n"
                                    "0.7 split on\n"
                                    "0.8 local 3 0\n"
                                    "0.9 local 4 102\n"
                                    "1.0 powercut 2\n"
                                    "1.2 local all 5 2 2 Game\n"
                                    "1.4 drop 1\n"
                                    "1.5 local 3 1\n"
                                    "1.6 local 4 105\n"
                                    "2.0 local all 2 1 0 Paid\n"
                                    "2.2 powercut all\n"
                                    "2.8 local all 2 1 0 Paid\n"
                                    "3.0 local 1 1\n"
                                    "3.1 split off\n"
                                    "3.3 local 3 6 2 1 WaitGame\n"
                                    "3.5 local 2 5 2 30 Game\n",
                                    error);
    ASSERT_TRUE(script) << error;
    options.script = *script;

    std::ostringstream log;
    Simulator simulator(options, log);
    ASSERT_TRUE(simulator.open(error)) << error;
    simulator.run();
    // Every close was awaited, so the server has them all once its connections are gone.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (server.open() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(server.open(), 0u);

    const SimulatorStats& stats = simulator.stats();
    EXPECT_GT(stats.finishedReports, 0u);
    EXPECT_GT(stats.resetCloses, 0u);
    EXPECT_GT(stats.powerCuts, 0u);
    EXPECT_GT(server.discoveryCloses(), 0u);
    EXPECT_EQ(stats.serverCloses, 0u);
    EXPECT_EQ(stats.unconfirmedCloses, 0u);
    EXPECT_EQ(stats.finishedReports, server.ok());
    EXPECT_EQ(stats.resetCloses, server.reset());
    EXPECT_EQ(stats.sessionsClosed, server.ok() + server.reset());
}

TEST(SessionCount, OnlyARunningOrFinishedSessionLeavesASum)
{
    const struct
    {
        std::int32_t code;
        bool sum;
    } cases[] = {{-1, false}, {0, false}, {1, false}, {2, true}, {3, true},
                 {4, false},  {5, true},  {6, false}, {9, false}};
    for (const auto& c : cases)
        EXPECT_EQ(reportLeavesSum(c.code), c.sum) << c.code;
}
