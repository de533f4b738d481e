#pragma once

#include "core/UniqueFd.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ostrel {

class ConnectionRegistry;

// The stations' listening socket on the network thread: takes what connects, a bounded number at a
// time, rests when the system has no descriptor or memory for another, and closes a connection
// from an address that holds TCPServer::MaxConnectionsPerAddress open already. The others get
// keep-alive and go to `accepted`.
class StationAcceptor
{
public:
    using Accepted = std::function<void(UniqueFd fd, const std::string& address)>;

    StationAcceptor(asio::io_context& io, const ConnectionRegistry& registry, Accepted accepted);

    // Takes the listening descriptor `fd` in place of the one before; false when the reactor
    // cannot take it, and `fd` stays the caller's.
    bool adopt(int fd);
    // Accepts what waits, then waits for more (network thread).
    void acceptPending();
    // Stops accepting: the listening socket closes and a back-off ends.
    void close();

    // Keep-alive idle time for accepted connections; nullopt keeps the system's timing.
    void setKeepAliveSeconds(std::optional<int> seconds) { m_keepAliveSeconds = seconds; }

    // Any thread.
    std::uint64_t backOffs() const { return m_backOffs.load(); }
    std::uint64_t refused() const { return m_refused.load(); }

private:
    void admit(UniqueFd fd, const std::string& address);

    asio::io_context& m_io;
    const ConnectionRegistry& m_registry;
    Accepted m_accepted;
    asio::ip::tcp::acceptor m_socket;
    asio::steady_timer m_backOff;
    std::optional<int> m_keepAliveSeconds;
    std::atomic<std::uint64_t> m_backOffs{0};
    std::atomic<std::uint64_t> m_refused{0};
};

} // namespace ostrel
