#include "net/Connection.h"

#include "net/SocketOptions.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

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

void Connection::abandon()
{
    markClosed();
    m_disconnectOwed = false;
    stopNameLimit();
    stopSendLimit();
    failPending();
}

void Connection::startNameLimit(std::chrono::milliseconds limit)
{
    m_nameTimer = std::make_unique<asio::steady_timer>(m_socket.get_executor(), limit);
}

void Connection::stopNameLimit()
{
    if (m_nameTimer)
        m_nameTimer->cancel();
}

void Connection::stopSendLimit()
{
    if (m_sendTimer)
        m_sendTimer->cancel();
}

ssize_t Connection::sendSome(std::span<const std::uint8_t> bytes)
{
    for (;;) {
        const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

std::size_t Connection::pendingBytes() const
{
    std::size_t total = 0;
    for (const auto& c : m_pending)
        total += c.bytes.size() - c.sent;
    return total;
}

void Connection::queueOutput(std::span<const std::uint8_t> bytes, std::size_t sent, CommandTransport::SendDone done)
{
    m_pending.push_back({std::vector<std::uint8_t>(bytes.begin(), bytes.end()), sent, std::move(done)});
}

std::optional<bool> Connection::sendOldest()
{
    auto& front = m_pending.front();
    const ssize_t n = sendSome(std::span(front.bytes).subspan(front.sent));
    if (n < 0)
        return std::nullopt;
    front.sent += static_cast<std::size_t>(n);
    return front.sent < front.bytes.size();
}

CommandTransport::SendDone Connection::dropOldest()
{
    auto done = std::move(m_pending.front().done);
    m_pending.pop_front();
    return done;
}

void Connection::failPending()
{
    auto pending = std::move(m_pending);
    m_pending.clear();
    for (auto& p : pending)
        if (p.done)
            p.done(SendResult::NotDelivered);
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
