#include "net/Connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {

Connection::Connection(asio::io_context& io, int fd, std::string address)
    : m_socket(io), m_fd(fd), m_address(std::move(address))
{
    asio::error_code ignored;
    m_socket.assign(asio::ip::tcp::v4(), fd, ignored);
    if (ignored)
        ::close(fd); // not registered with the reactor: the socket does not own it
}

Connection::~Connection()
{
    asio::error_code ignored;
    m_socket.close(ignored);
}

void Connection::setHostName(std::string name)
{
    m_hostName = name.empty() ? m_address : std::move(name);
    m_nameKnown = true;
}

bool Connection::markClosed()
{
    if (m_closed.exchange(true, std::memory_order_acq_rel))
        return false;
    asio::error_code ignored;
    m_socket.shutdown(asio::socket_base::shutdown_both, ignored);
    // Outstanding waits end with operation_aborted; the descriptor itself goes with the object.
    m_socket.cancel(ignored);
    return true;
}

std::size_t Connection::pendingBytes() const
{
    std::size_t total = 0;
    for (const auto& c : m_pending)
        total += c.bytes.size() - c.sent;
    return total;
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
