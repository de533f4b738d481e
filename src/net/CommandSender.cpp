#include "net/CommandSender.h"

#include "net/TCPServer.h"

#include <sys/types.h>

#include <cstddef>
#include <utility>

namespace ostrel {

SendResult CommandSender::send(std::string_view address, std::span<const std::uint8_t> bytes,
                               CommandTransport::SendDone done)
{
    const auto connection = m_registry.firstOpenFrom(address);
    if (!connection) {
        if (done)
            done(SendResult::NoConnection);
        return SendResult::NoConnection;
    }
    std::size_t sent = 0;
    if (!connection->hasPendingOutput()) {
        const ssize_t n = connection->sendSome(bytes);
        if (n < 0) {
            m_disconnect(connection);
            if (done)
                done(SendResult::NotDelivered);
            return SendResult::NotDelivered;
        }
        sent = static_cast<std::size_t>(n);
        if (sent == bytes.size()) {
            if (done)
                done(SendResult::Sent);
            return SendResult::Sent;
        }
    }
    // The socket took part or nothing: the rest goes first when it can, and later commands wait
    // behind it, so a station never sees a command cut short followed by the next one.
    const bool wasEmpty = !connection->hasPendingOutput();
    connection->queueOutput(bytes, sent, std::move(done));
    if (connection->pendingBytes() > TCPServer::MaxPendingCommandBytes) {
        m_disconnect(connection); // tells every waiting command, this one too
        return SendResult::NotDelivered;
    }
    waitWritable(connection);
    if (wasEmpty)
        restartSendLimit(connection);
    return SendResult::Sent; // on its way: the done callback learns whether it arrived whole
}

void CommandSender::flush(const ConnectionPtr& connection)
{
    bool progressed = false;
    while (connection->hasPendingOutput() && !connection->isClosed()) {
        const auto partial = connection->sendOldest();
        if (!partial) {
            m_disconnect(connection);
            return;
        }
        if (*partial) {
            waitWritable(connection);
            if (progressed)
                restartSendLimit(connection);
            return;
        }
        auto done = connection->dropOldest();
        progressed = true;
        if (done)
            done(SendResult::Sent);
    }
    connection->stopSendLimit();
}

void CommandSender::waitWritable(const ConnectionPtr& connection)
{
    connection->waitWritable([this, connection] { flush(connection); });
}

void CommandSender::restartSendLimit(const ConnectionPtr& connection)
{
    // The oldest waiting command has this long to go out; a station that reads nothing loses its
    // connection rather than holding the operator's command for ever.
    connection->restartSendLimit(TCPServer::PendingCommandLimit, [this, connection](const asio::error_code& ec) {
        if (!ec && !connection->isClosed() && connection->hasPendingOutput())
            m_disconnect(connection);
    });
}

} // namespace ostrel
