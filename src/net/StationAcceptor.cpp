#include "net/StationAcceptor.h"

#include "net/ConnectionRegistry.h"
#include "net/SocketOptions.h"
#include "net/TCPServer.h"

#include <asio/post.hpp>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <utility>

namespace ostrel {

namespace {

// accept() failing for lack of descriptors or memory leaves the connection pending and the
// listener readable; accepting rests this long instead of failing in a loop.
constexpr std::chrono::milliseconds AcceptBackOff{100};
// Connections taken in one go, so a flood of connects cannot starve the stations' reports.
constexpr int AcceptsPerRun = 64;

} // namespace

StationAcceptor::StationAcceptor(asio::io_context& io, const ConnectionRegistry& registry, Accepted accepted)
    : m_io(io), m_registry(registry), m_accepted(std::move(accepted)), m_socket(io), m_backOff(io)
{}

bool StationAcceptor::adopt(int fd)
{
    asio::error_code ec;
    m_socket.close(ec);
    m_backOff.cancel();
    m_socket.assign(asio::ip::tcp::v4(), fd, ec);
    return !ec;
}

void StationAcceptor::close()
{
    asio::error_code ignored;
    m_socket.close(ignored);
    m_backOff.cancel();
}

void StationAcceptor::acceptPending()
{
    for (int i = 0; i < AcceptsPerRun; ++i) {
        if (!m_socket.is_open())
            return;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        UniqueFd fd(::accept4(m_socket.native_handle(), reinterpret_cast<sockaddr*>(&peer), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (fd) {
            try {
                admit(std::move(fd), dottedAddress(peer));
            } catch (...) {
                // Out of memory half-way: the connection went with its descriptor, as if it failed.
            }
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Drained: the wait is edge-triggered, and a connection arriving from now on wakes it.
            m_socket.async_wait(asio::socket_base::wait_read, [this](const asio::error_code& ec) {
                if (!ec)
                    acceptPending();
            });
            return;
        }
        // Out of descriptors or memory, or anything else that would fail again at once.
        ++m_backOffs;
        m_backOff.expires_after(AcceptBackOff);
        m_backOff.async_wait([this](const asio::error_code& ec) {
            if (!ec)
                acceptPending();
        });
        return;
    }
    asio::post(m_io, [this] { acceptPending(); });
}

void StationAcceptor::admit(UniqueFd fd, const std::string& address)
{
    if (m_registry.countFrom(address) >= TCPServer::MaxConnectionsPerAddress) {
        ++m_refused;
        return; // `fd` closes it: one peer cannot take every descriptor and look-up
    }
    setKeepAlive(fd.get(), 1000);
    if (m_keepAliveSeconds)
        setKeepAliveTiming(fd.get(), *m_keepAliveSeconds);
    m_accepted(std::move(fd), address);
}

} // namespace ostrel
