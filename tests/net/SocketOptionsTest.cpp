#include "net/SocketOptions.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {
namespace {

// The server's side of a real loopback connection.
class LoopbackPair
{
public:
    LoopbackPair()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(m_listener, 1) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&at), &length) != 0)
            return;
        m_client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(m_client, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
            m_accepted = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    ~LoopbackPair()
    {
        for (int fd : {m_accepted, m_client, m_listener})
            if (fd >= 0)
                ::close(fd);
    }
    int accepted() const { return m_accepted; }

private:
    int m_listener = -1;
    int m_client = -1;
    int m_accepted = -1;
};

int intOption(int fd, int level, int name)
{
    int value = -1;
    socklen_t length = sizeof value;
    return ::getsockopt(fd, level, name, &value, &length) == 0 ? value : -1;
}

TEST(SocketOptions, KeepAliveClosesASilentPeerWithinTwiceTheIdleTime)
{
    for (const int seconds : {1, 2, 7, 30, 3600}) {
        SCOPED_TRACE(std::to_string(seconds) + " s");
        const KeepAliveTiming timing = keepAliveTiming(seconds);
        EXPECT_EQ(timing.idleSeconds, seconds);
        EXPECT_GE(timing.probes, 1);
        EXPECT_GE(timing.intervalSeconds, 1);
        EXPECT_LE(timing.idleSeconds + timing.intervalSeconds * timing.probes, 2 * seconds);
        EXPECT_GT(timing.idleSeconds + timing.intervalSeconds * timing.probes, seconds * 3 / 2);
        EXPECT_EQ(timing.userTimeoutMs, 2000u * static_cast<unsigned>(seconds));

        const LoopbackPair pair;
        ASSERT_GE(pair.accepted(), 0);
        ASSERT_TRUE(setKeepAliveTiming(pair.accepted(), seconds));
        const int fd = pair.accepted();
        EXPECT_EQ(intOption(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(intOption(fd, IPPROTO_TCP, TCP_KEEPIDLE), timing.idleSeconds);
        EXPECT_EQ(intOption(fd, IPPROTO_TCP, TCP_KEEPINTVL), timing.intervalSeconds);
        EXPECT_EQ(intOption(fd, IPPROTO_TCP, TCP_KEEPCNT), timing.probes);
        EXPECT_EQ(intOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), static_cast<int>(timing.userTimeoutMs));
    }
}

} // namespace
} // namespace ostrel
