#include "net/qt/UDPServer.h"

#include "NetQtTestSupport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace ostrel {
namespace {

using namespace nettest;
using namespace std::chrono_literals;

// A UDP socket on a station's own loopback address.
class StationUdp
{
public:
    explicit StationUdp(const std::string& address)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const auto local = loopback(address, 0);
        m_ok = bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    ~StationUdp() { ::close(m_fd); }
    bool ok() const { return m_ok; }
    std::uint16_t port() const { return boundPort(m_fd); }
    void sendTo(std::uint16_t port, const Bytes& payload) const
    {
        const auto to = loopback("127.0.0.1", port);
        ::sendto(m_fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    struct Datagram
    {
        std::string text;
        std::uint16_t fromPort = 0;
    };
    std::optional<Datagram> take() const
    {
        char buffer[64];
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0)
            return std::nullopt;
        return Datagram{std::string(buffer, static_cast<std::size_t>(n)), ntohs(from.sin_port)};
    }
    std::optional<Datagram> await() const
    {
        std::optional<Datagram> got;
        processUntil([&] { return (got = take()).has_value(); }, 3000ms);
        return got;
    }

private:
    int m_fd = -1;
    bool m_ok = false;
};

struct Discovery
{
    Discovery()
    {
        udp.attachTcpServer(live.server.get());
        listening = udp.setLocalPort(0);
    }
    LiveServer live;
    UDPServer udp;
    bool listening = false;
};

TEST(UDPServer, AnswersEveryRequestAtClientUDPAndClosesOnlyTheFirstConnection)
{
    struct Case
    {
        const char* name;
        std::string station;
        Bytes payload;
        int connections;
    };
    const std::vector<Case> cases = {
        {"no connection", "127.0.0.21", {'?'}, 0},
        {"empty datagram", "127.0.0.22", {}, 0},
        {"larger than the receive buffer", "127.0.0.23", Bytes(3000, 0x41), 0},
        {"one connection", "127.0.0.24", {'x'}, 1},
        {"two connections", "127.0.0.25", {'x'}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Discovery d;
        ASSERT_TRUE(d.listening);
        StationUdp ear(c.station);   // the station's ClientUDP port
        StationUdp asker(c.station); // a different source port
        ASSERT_TRUE(ear.ok() && asker.ok());
        d.udp.setRemotePort(ear.port());

        std::vector<std::unique_ptr<StationSocket>> tcp;
        for (int i = 0; i < c.connections; ++i) {
            tcp.push_back(std::make_unique<StationSocket>(c.station, d.live.port()));
            ASSERT_TRUE(processUntil([&] { return d.live.server->connectionCount() == std::size_t(i + 1); }));
        }
        StationSocket bystander("127.0.0.30", d.live.port());
        ASSERT_TRUE(processUntil([&] { return d.live.server->connectionCount() == std::size_t(c.connections + 1); }));

        asker.sendTo(d.udp.boundPort(), c.payload);
        const auto answer = ear.await();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->text, "Hi Client");
        EXPECT_EQ(answer->fromPort, d.udp.boundPort());
        EXPECT_FALSE(asker.take()) << "the answer goes to ClientUDP, not to the source port";
        EXPECT_EQ(d.udp.RemoteHost(), c.station);

        // The connection was closed before the answer left.
        const std::size_t expected = static_cast<std::size_t>(std::max(c.connections - 1, 0)) + 1;
        EXPECT_EQ(d.live.server->connectionCount(), expected);
        if (c.connections > 0) {
            EXPECT_TRUE(tcp[0]->seesClose(2000ms));
        }
        if (c.connections > 1) {
            const Bytes command(48, 7);
            EXPECT_EQ(d.live.server->sendToAddress(c.station, command), SendResult::Sent);
            EXPECT_EQ(tcp[1]->receive(48, 2000ms), command);
        }
    }
}

TEST(UDPServer, ClosingAConnectionLogsItsRunningSession)
{
    Discovery d;
    StationUdp ear("127.0.0.26");
    d.udp.setRemotePort(ear.port());
    StationSocket station("127.0.0.26", d.live.port());
    ASSERT_TRUE(station.send(runningReport()));
    ASSERT_TRUE(processUntil([&] { return d.live.state.applied() == 1; }));

    d.udp.UDPServerDataReceived("127.0.0.26");
    // The answer leaves only after the disconnect handling has run on the network thread.
    ASSERT_TRUE(ear.await());
    EXPECT_EQ(d.live.state.stationCount(), 0u);
    ASSERT_EQ(d.live.state.sessions().size(), 1u);
    EXPECT_EQ(d.live.state.sessions()[0][HistoryColComment], "Reset");
}

TEST(UDPServer, SendFailuresAndAnUnboundPortAreSwallowed)
{
    UDPServer unready;
    unready.sendDiscovery("127.0.0.27"); // no socket yet
    EXPECT_EQ(unready.RemoteHost(), "127.0.0.27");

    // Another program holds the port: the endpoint still exists and its sends still leave.
    StationUdp holder("127.0.0.1");
    UDPServer udp;
    EXPECT_TRUE(udp.setLocalPort(holder.port()));
    EXPECT_EQ(udp.LocalPort(), holder.port());
    StationUdp ear("127.0.0.28");
    udp.setRemotePort(ear.port());
    udp.sendDiscovery("not an address");
    udp.sendDiscovery("127.0.0.28");
    const auto got = ear.await();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->text, "Hi Client");
}

} // namespace
} // namespace ostrel
