#include "net/Connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel {

Connection::Connection(int fd, std::string address, CloseHandler onClose)
    : m_fd(fd), m_address(std::move(address)), m_onClose(std::move(onClose))
{}

Connection::~Connection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

const std::string& Connection::hostName() const
{
    return m_nameKnown.load(std::memory_order_acquire) ? m_hostName : m_address;
}

void Connection::lookUpHostName(const NameResolver& resolver)
{
    if (hostNameKnown())
        return;
    std::string name = resolver ? resolver(m_address) : reverseLookUp(m_address);
    m_hostName = name.empty() ? m_address : std::move(name);
    m_nameKnown.store(true, std::memory_order_release);
}

bool Connection::sendBytes(std::span<const std::uint8_t> bytes)
{
    if (isClosed())
        return false;
    std::scoped_lock hold(m_sendMutex);
    for (;;) {
        const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool Connection::markClosed()
{
    if (m_closed.exchange(true, std::memory_order_acq_rel))
        return false;
    ::shutdown(m_fd, SHUT_RDWR);
    return true;
}

void Connection::close()
{
    // The flag is set before the disconnect handling runs, so a report of this connection that
    // obtains StationTableMutex afterwards is dropped instead of adding the row again.
    if (markClosed() && m_onClose)
        m_onClose(*this);
}

void Connection::closeSilently()
{
    markClosed();
}

std::string reverseLookUp(const std::string& address)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    if (inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1)
        return address;
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return address;
    return host;
}

} // namespace ostrel
