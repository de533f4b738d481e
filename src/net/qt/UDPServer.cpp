#include "net/qt/UDPServer.h"

#include "net/SocketOptions.h"
#include "net/TCPServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ostrel {

namespace {

// Datagrams handled in one go, so a flood of requests cannot starve the stations' reports.
constexpr int DatagramsPerRun = 64;

} // namespace

UDPServer::UDPServer(QObject* parent) : QObject(parent) {}

UDPServer::~UDPServer()
{
    closeSocket();
}

void UDPServer::closeSocket()
{
    if (m_tcp)
        m_tcp->unwatchDatagrams();
    m_fd.reset();
}

void UDPServer::attachTcpServer(TCPServer* server)
{
    if (m_tcp)
        m_tcp->unwatchDatagrams();
    m_tcp = server;
    watch();
}

void UDPServer::watch()
{
    if (m_tcp && m_fd)
        m_tcp->watchDatagrams(m_fd.get(), [this] { return receivePending(); });
}

bool UDPServer::setLocalPort(quint16 port)
{
    closeSocket();
    m_localPort = port;
    m_fd.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_fd)
        return false;
    // Without it the start-up announcement to the subnet's broadcast address is refused.
    const int on = 1;
    (void)::setsockopt(m_fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    const sockaddr_in local = anyAddress(port);
    (void)::bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    watch();
    return true;
}

quint16 UDPServer::boundPort() const
{
    return m_fd ? localPort(m_fd.get()) : 0;
}

void UDPServer::setRemotePort(quint16 port)
{
    std::scoped_lock hold(m_mutex);
    m_remotePort = port;
}

quint16 UDPServer::RemotePort() const
{
    std::scoped_lock hold(m_mutex);
    return m_remotePort;
}

void UDPServer::setRemoteHost(std::string host)
{
    std::scoped_lock hold(m_mutex);
    m_remoteHost = std::move(host);
}

std::string UDPServer::RemoteHost() const
{
    std::scoped_lock hold(m_mutex);
    return m_remoteHost;
}

void UDPServer::sendDiscovery()
{
    if (!m_fd)
        return;
    std::optional<sockaddr_in> to;
    {
        std::scoped_lock hold(m_mutex);
        to = socketAddress(m_remoteHost, m_remotePort);
    }
    if (!to)
        return;
    (void)::sendto(m_fd.get(), DiscoveryDatagram.data(), DiscoveryDatagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&*to), sizeof *to);
}

void UDPServer::sendDiscovery(const std::string& host)
{
    setRemoteHost(host);
    if (m_tcp)
        m_tcp->post([this] { sendDiscovery(); });
    else
        sendDiscovery();
}

bool UDPServer::receivePending()
{
    std::array<char, ReceiveBufferSize> buffer;
    for (int i = 0; i < DatagramsPerRun && m_fd; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(m_fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return true; // drained; any other error has no datagram to answer
        }
        // The contents are never looked at; an empty datagram asks like any other.
        if (from.sin_family != AF_INET)
            continue;
        try {
            UDPServerDataReceived(dottedAddress(from));
        } catch (...) {
            // Nothing leaves an event handler; the request simply goes unanswered.
        }
    }
    return !m_fd;
}

void UDPServer::UDPServerDataReceived(const std::string& fromIP)
{
    // The station may connect again as soon as it has the answer: its old connection goes first.
    if (m_tcp)
        m_tcp->closeFirstConnectionFrom(fromIP);
    setRemoteHost(fromIP);
    sendDiscovery();
}

} // namespace ostrel
