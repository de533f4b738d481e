// A station's connection from start to end: discovery, connect, the events of its sockets, its own
// closes and those of the server, power cuts and the stale connections they leave, and the closing
// of every station when the run ends.

#include "Simulator.h"
#include "SimulatorHelpers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <iomanip>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace ostrel::sim {

void Simulator::closeAll(SteadyClock::time_point now)
{
    for (Station& s : m_stations) {
        switch (s.phase) {
        case Phase::Connected:
            // Unlike a reboot, the station program does not start afresh: it only goes away.
            s.out.clear();
            s.outBytes = 0;
            watchWrite(s, false);
            ::shutdown(s.tcp.get(), SHUT_WR);
            s.phase = Phase::Closing;
            s.closingAbortive = false;
            s.closeDeadline = now + FinalCloseTimeout;
            s.phaseDeadline = s.closeDeadline;
            break;
        case Phase::Closing:
            break;
        case Phase::Away:
        case Phase::Discovering:
        case Phase::Connecting:
            closeSockets(s, false); // no report was sent on a connection not yet made
            break;
        }
        if (s.staleTcp)
            ::shutdown(s.staleTcp.get(), SHUT_WR);
        reschedule(s);
    }
}

void Simulator::beginAttempt(Station& s, SteadyClock::time_point now)
{
    if (!m_options.discovery) {
        s.server = m_serverAddress;
        connectTcp(s, now);
        return;
    }
    s.udp.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.udp) {
        retryLater(s, now, "UDP socket: " + errorText(errno));
        return;
    }
    // No SO_REUSEADDR: a second simulator on the same addresses would take the answers away
    // unnoticed; a failed bind says so instead.
    // The answer goes to the asking address at ClientUDP, whatever port asked: so ask from there.
    const sockaddr_in local = socketAddress(s.address, m_options.clientUdpPort);
    if (::bind(s.udp.get(), asSockaddr(local), sizeof local) != 0) {
        retryLater(s, now,
                   "bind UDP " + s.name + ":" + std::to_string(m_options.clientUdpPort) + ": " + errorText(errno));
        return;
    }
    const sockaddr_in to = socketAddress(m_discoverAddress, m_options.udpPort);
    if (::sendto(s.udp.get(), DiscoveryQuestion.data(), DiscoveryQuestion.size(), MSG_NOSIGNAL, asSockaddr(to),
                 sizeof to) < 0) {
        retryLater(s, now, "discovery send: " + errorText(errno));
        return;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = tagOf(s.index, UdpTag);
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, s.udp.get(), &ev);
    s.phase = Phase::Discovering;
    s.phaseDeadline = now + DiscoveryTimeout;
}

void Simulator::onUdpEvent(Station& s, SteadyClock::time_point now)
{
    for (int i = 0; i < 16 && s.udp; ++i) {
        char buffer[64];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(s.udp.get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return;
        if (s.phase != Phase::Discovering || std::string_view(buffer, static_cast<std::size_t>(n)) != DiscoveryAnswer)
            continue;
        s.server = ntohl(from.sin_addr.s_addr);
        s.udp.reset();
        // The server closes a station's old connection before it answers.
        if (s.staleTcp)
            endStale(s, true);
        if (verbose(s))
            m_out << s.name << ": server found at " << formatIpv4(s.server) << std::endl;
        connectTcp(s, now);
    }
}

void Simulator::connectTcp(Station& s, SteadyClock::time_point now)
{
    s.tcp.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!s.tcp) {
        retryLater(s, now, "TCP socket: " + errorText(errno));
        return;
    }
    const int on = 1;
    ::setsockopt(s.tcp.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // The server tells stations apart by their address: each binds its own.
    const sockaddr_in local = socketAddress(s.address, 0);
    if (::bind(s.tcp.get(), asSockaddr(local), sizeof local) != 0) {
        retryLater(s, now, "bind " + s.name + ": " + errorText(errno));
        return;
    }
    const sockaddr_in to = socketAddress(s.server, m_options.tcpPort);
    epoll_event ev{};
    ev.data.u64 = tagOf(s.index, TcpTag);
    if (::connect(s.tcp.get(), asSockaddr(to), sizeof to) == 0) {
        ev.events = EPOLLIN | EPOLLRDHUP;
        ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, s.tcp.get(), &ev);
        onConnected(s, now);
        return;
    }
    if (errno != EINPROGRESS) {
        ++m_stats.connectFailures;
        retryLater(s, now, "connect: " + errorText(errno));
        return;
    }
    ev.events = EPOLLOUT;
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, s.tcp.get(), &ev);
    s.phase = Phase::Connecting;
    s.phaseDeadline = now + ConnectTimeout;
}

void Simulator::onConnected(Station& s, SteadyClock::time_point now)
{
    s.phase = Phase::Connected;
    s.writeWatched = false;
    s.backoffSeconds = 0.5;
    s.failuresInARow = 0;
    s.lastFailure.clear();
    ++m_stats.connects;
    if (s.everConnected)
        ++m_stats.reconnects;
    s.everConnected = true;
    s.lastSentCode = -1;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = tagOf(s.index, TcpTag);
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, s.tcp.get(), &ev);
    s.nextReport = now;
    s.dropAt = m_options.dropAfterSeconds > 0 ? now + secondsToDuration(m_options.dropAfterSeconds)
                                              : SteadyClock::time_point::max();
    if (verbose(s))
        m_out << s.name << ": connected to " << formatIpv4(s.server) << ":" << m_options.tcpPort << std::endl;
    service(s, now);
}

void Simulator::onTcpEvent(Station& s, std::uint32_t events, SteadyClock::time_point now)
{
    if (!s.tcp)
        return;
    if (s.phase == Phase::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(s.tcp.get(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (!(events & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
            return;
        if (error != 0 || (events & (EPOLLERR | EPOLLHUP))) {
            ++m_stats.connectFailures;
            retryLater(s, now, "connect: " + errorText(error != 0 ? error : ECONNREFUSED));
            return;
        }
        onConnected(s, now);
        return;
    }
    if (s.phase == Phase::Closing) {
        // Whatever the server still sends is not obeyed; its close is what the station waits for.
        if (!drain(s.tcp.get()) || (events & (EPOLLERR | EPOLLHUP)))
            finishClose(s, now, true);
        return;
    }
    if (events & EPOLLIN) {
        for (;;) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::recv(s.tcp.get(), buffer, sizeof buffer, 0);
            if (n > 0) {
                s.in.insert(s.in.end(), buffer, buffer + n);
                handleCommands(s, now);
                if (s.phase != Phase::Connected)
                    return;
                continue;
            }
            if (n == 0) {
                lost(s, now, "the server closed the connection");
                return;
            }
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            lost(s, now, "receive: " + errorText(errno));
            return;
        }
    }
    if (events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) {
        lost(s, now, "the connection was closed");
        return;
    }
    if (events & EPOLLOUT)
        flush(s, now);
}

void Simulator::closeSockets(Station& s, bool abortive)
{
    if (s.tcp) {
        if (abortive) {
            // A reset instead of an orderly close: what a pulled cable or a crash looks like.
            const linger hard{1, 0};
            ::setsockopt(s.tcp.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        s.tcp.reset(); // also leaves the epoll set
    }
    s.udp.reset();
    s.out.clear();
    s.outBytes = 0;
    s.in.clear();
    s.writeWatched = false;
}

void Simulator::retryLater(Station& s, SteadyClock::time_point now, const std::string& why)
{
    closeSockets(s, false);
    // Jittered, so that many stations that failed together do not come back together.
    const double seconds = s.backoffSeconds * std::uniform_real_distribution<double>(0.75, 1.25)(m_random);
    // A server that stays away would fill the screen: repeat the same complaint ever more rarely.
    ++s.failuresInARow;
    const bool news = why != s.lastFailure || (s.failuresInARow & (s.failuresInARow - 1)) == 0;
    s.lastFailure = why;
    if (verbose(s) && news)
        m_out << s.name << ": " << why << "; retrying in " << std::fixed << std::setprecision(1) << seconds << " s"
              << std::defaultfloat << std::endl;
    s.backoffSeconds = std::min(s.backoffSeconds * 2, MaxBackoffSeconds);
    s.phase = Phase::Away;
    s.phaseDeadline = now + secondsToDuration(seconds);
}

void Simulator::leave(Station& s, SteadyClock::time_point now, double seconds, bool abortive, const std::string& why)
{
    // What was not sent whole never was: a report cut off here is not counted, and the server
    // drops its head with the connection.
    s.out.clear();
    s.outBytes = 0;
    watchWrite(s, false);
    s.model->restart();
    s.dropAt = SteadyClock::time_point::max();
    s.phase = Phase::Closing;
    s.closingAbortive = abortive;
    s.comeBackAt = now + secondsToDuration(seconds);
    s.closeDeadline = now + CloseConfirmTimeout;
    s.phaseDeadline = now;
    if (!abortive)
        ::shutdown(s.tcp.get(), SHUT_WR);
    if (verbose(s))
        m_out << s.name << ": " << why << "; back in " << seconds << " s" << std::endl;
    serviceClosing(s, now);
}

void Simulator::serviceClosing(Station& s, SteadyClock::time_point now)
{
    if (s.closingAbortive) {
        // A reset throws away whatever the server's kernel has not acknowledged yet; what it holds,
        // the server still reads before it sees the reset.
        int unacknowledged = 0;
        const bool known = ::ioctl(s.tcp.get(), SIOCOUTQ, &unacknowledged) == 0;
        if (known && unacknowledged == 0) {
            finishClose(s, now, true);
            return;
        }
        if (now >= s.closeDeadline) {
            finishClose(s, now, false);
            return;
        }
        s.phaseDeadline = std::min(now + AcknowledgePoll, s.closeDeadline);
        return;
    }
    if (now >= s.closeDeadline) {
        finishClose(s, now, false);
        return;
    }
    s.phaseDeadline = s.closeDeadline;
}

void Simulator::finishClose(Station& s, SteadyClock::time_point now, bool confirmed)
{
    connectionEnded(s.lastSentCode);
    if (!confirmed)
        ++m_stats.unconfirmedCloses;
    closeSockets(s, s.closingAbortive);
    s.phase = Phase::Away;
    s.phaseDeadline = std::max(now, s.comeBackAt);
}

void Simulator::lost(Station& s, SteadyClock::time_point now, const std::string& why)
{
    // The server ended it: any report still unread there is lost to it, so the count may be off.
    ++m_stats.serverCloses;
    connectionEnded(s.lastSentCode);
    closeSockets(s, false);
    s.model->restart();
    s.phase = Phase::Away;
    s.dropAt = SteadyClock::time_point::max();
    s.phaseDeadline = now + secondsToDuration(0.5);
    if (verbose(s))
        m_out << s.name << ": " << why << "; back in 0.5 s" << std::endl;
}

void Simulator::powerCut(Station& s, SteadyClock::time_point now)
{
    if (!m_options.discovery) {
        // Nobody would ever close the dead connection: the station resets it instead.
        leave(s, now, m_options.rebootSeconds, true, "power cut (no discovery: reset)");
        return;
    }
    ++m_stats.powerCuts;
    if (s.staleTcp)
        endStale(s, false);
    // The machine is gone without a FIN or a reset: the server's side stays open until the station,
    // back after the reboot delay, asks by discovery. That quiet time is what lets the server read
    // everything sent before the cut.
    s.out.clear();
    s.outBytes = 0;
    s.in.clear();
    watchWrite(s, false);
    s.staleTcp = std::move(s.tcp);
    s.staleLastCode = s.lastSentCode;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP;
    ev.data.u64 = tagOf(s.index, StaleTag);
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, s.staleTcp.get(), &ev);
    s.model->restart();
    s.dropAt = SteadyClock::time_point::max();
    s.phase = Phase::Away;
    s.phaseDeadline = now + secondsToDuration(m_options.rebootSeconds);
    if (verbose(s))
        m_out << s.name << ": power cut; back in " << m_options.rebootSeconds << " s" << std::endl;
}

void Simulator::onStaleEvent(Station& s, std::uint32_t events)
{
    if (!s.staleTcp)
        return;
    if (!drain(s.staleTcp.get()) || (events & (EPOLLERR | EPOLLHUP)))
        endStale(s, true);
}

void Simulator::endStale(Station& s, bool confirmed)
{
    connectionEnded(s.staleLastCode);
    if (!confirmed)
        ++m_stats.unconfirmedCloses;
    s.staleTcp.reset();
    s.staleLastCode = -1;
}

bool Simulator::drain(int fd)
{
    for (int i = 0; i < 64; ++i) {
        std::uint8_t buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void Simulator::connectionEnded(std::int32_t lastSentCode)
{
    if (!reportLeavesSum(lastSentCode))
        return;
    ++m_stats.resetCloses;
    ++m_stats.sessionsClosed;
}

} // namespace ostrel::sim
