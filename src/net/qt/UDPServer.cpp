#include "net/qt/UDPServer.h"

#include "net/SocketOptions.h"
#include "net/TCPServer.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ostrel {

namespace {

// Datagrams handled per notification, so a flood of requests cannot starve the TCP events.
constexpr int DatagramsPerNotification = 64;

} // namespace

UDPServer::UDPServer(QObject* parent) : QObject(parent)
{
    m_handle->server = this;
}

UDPServer::~UDPServer()
{
    {
        std::scoped_lock hold(m_handle->lock);
        m_handle->server = nullptr;
    }
    closeSocket();
}

void UDPServer::closeSocket()
{
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool UDPServer::setLocalPort(quint16 port)
{
    closeSocket();
    m_localPort = port;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    // Without it the start-up announcement to the subnet's broadcast address is refused.
    const int on = 1;
    (void)::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    (void)::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);

    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { receivePending(); });
    return true;
}

quint16 UDPServer::boundPort() const
{
    if (m_fd < 0)
        return 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

void UDPServer::sendDiscovery()
{
    if (m_fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_remotePort);
    if (inet_pton(AF_INET, m_remoteHost.c_str(), &to.sin_addr) != 1)
        return;
    (void)::sendto(m_fd, DiscoveryDatagram.data(), DiscoveryDatagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void UDPServer::sendDiscovery(const std::string& host)
{
    setRemoteHost(host);
    sendDiscovery();
}

void UDPServer::receivePending()
{
    std::array<char, ReceiveBufferSize> buffer;
    for (int i = 0; i < DatagramsPerNotification && m_fd >= 0; ++i) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got =
            ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return; // drained; any other error has no datagram to answer
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
}

void UDPServer::UDPServerDataReceived(const std::string& fromIP)
{
    if (!m_tcp) {
        answer(fromIP);
        return;
    }
    // The station may connect again as soon as it has the answer: its old connection goes first.
    m_tcp->postCloseFirstConnectionFrom(fromIP, [handle = m_handle, fromIP] {
        std::scoped_lock hold(handle->lock);
        if (handle->server)
            QMetaObject::invokeMethod(
                handle->server, [server = handle->server, fromIP] { server->answer(fromIP); }, Qt::QueuedConnection);
    });
}

void UDPServer::answer(const std::string& fromIP)
{
    setRemoteHost(fromIP);
    sendDiscovery();
}

} // namespace ostrel
