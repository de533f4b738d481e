#include "net/DatagramWatch.h"

#include <asio/post.hpp>

#include <utility>

namespace ostrel {

void DatagramWatch::watch(int fd, std::function<bool()> readable)
{
    unwatch();
    auto socket = std::make_unique<asio::ip::udp::socket>(m_io);
    asio::error_code ec;
    socket->assign(asio::ip::udp::v4(), fd, ec);
    if (ec)
        return;
    m_socket = std::move(socket);
    m_readable = std::move(readable);
    ++m_watch;
    // Whatever came before the watch is read first; the wait covers what comes later.
    asio::post(m_io, [this, watch = m_watch] { read(watch); });
}

void DatagramWatch::read(std::uint64_t watch)
{
    if (watch != m_watch || !m_socket)
        return;
    bool drained = true;
    try {
        drained = m_readable();
    } catch (...) {
        // Nothing leaves a handler; the datagrams still waiting are read on the next round.
    }
    if (!drained) {
        asio::post(m_io, [this, watch] { read(watch); });
        return;
    }
    m_socket->async_wait(asio::socket_base::wait_read, [this, watch](const asio::error_code& ec) {
        if (!ec)
            read(watch);
    });
}

void DatagramWatch::unwatch()
{
    ++m_watch;
    if (m_socket) {
        asio::error_code ignored;
        m_socket->cancel(ignored);
        (void)m_socket->release(ignored); // the descriptor stays open: it is the caller's
        m_socket.reset();
    }
    m_readable = nullptr;
}

} // namespace ostrel
