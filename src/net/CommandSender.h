#pragma once

#include "commands/CommandTransport.h"
#include "net/ConnectionRegistry.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>

namespace ostrel {

// The way out to the stations, on the network thread: bytes go to the first open connection from
// an address at once, and what its socket does not take waits, in order, behind what waits
// already, within TCPServer::MaxPendingCommandBytes and TCPServer::PendingCommandLimit. A
// connection that fails a send or exceeds either goes to `disconnect`.
class CommandSender
{
public:
    using Disconnect = std::function<void(const ConnectionPtr& connection)>;

    CommandSender(const ConnectionRegistry& registry, Disconnect disconnect)
        : m_registry(registry), m_disconnect(std::move(disconnect))
    {}

    // Sent: gone out whole, or on its way (`done` learns which); `done` is told before this returns
    // unless the bytes wait.
    SendResult send(std::string_view address, std::span<const std::uint8_t> bytes, CommandTransport::SendDone done);

private:
    void flush(const ConnectionPtr& connection);
    void waitWritable(const ConnectionPtr& connection);
    void restartSendLimit(const ConnectionPtr& connection);

    const ConnectionRegistry& m_registry;
    Disconnect m_disconnect;
};

} // namespace ostrel
