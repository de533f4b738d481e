#include "net/Connection.h"

#include "net/SocketOptions.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel {

Connection::Connection(asio::io_context& io, UniqueFd fd, std::string address)
    : m_socket(io), m_fd(fd.get()), m_address(std::move(address))
{
    // Not registered with the reactor, the socket does not own it and `fd` closes it.
    asio::error_code failed;
    m_socket.assign(asio::ip::tcp::v4(), fd.get(), failed);
    if (!failed)
        static_cast<void>(fd.release());
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
    const auto peer = socketAddress(address, 0);
    if (!peer)
        return address;
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&*peer), sizeof *peer, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
        return address;
    return host;
}

} // namespace ostrel
