#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include <cstdint>
#include <functional>
#include <memory>

namespace ostrel {

// Discovery's datagram socket, watched on the network thread: `readable` runs there when the
// socket may hold datagrams, and returns true once it has read them all. The descriptor stays the
// caller's.
class DatagramWatch
{
public:
    explicit DatagramWatch(asio::io_context& io) : m_io(io) {}

    // In place of the watch before; nothing is watched when the reactor cannot take `fd`.
    void watch(int fd, std::function<bool()> readable);
    // No `readable` runs after this.
    void unwatch();

private:
    void read(std::uint64_t watch);

    asio::io_context& m_io;
    std::unique_ptr<asio::ip::udp::socket> m_socket;
    std::function<bool()> m_readable;
    // Tells a stale wait from the current one.
    std::uint64_t m_watch = 0;
};

} // namespace ostrel
