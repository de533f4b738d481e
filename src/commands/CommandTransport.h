#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel {

enum class SendResult
{
    Sent,
    NoConnection, // no open connection has that address: nothing was sent
};

// How a command reaches a station; the network layer implements it.
class CommandTransport
{
public:
    virtual ~CommandTransport() = default;

    // Hands the bytes, in one send, to the first open connection (in accept order) whose peer
    // address equals `address` as dotted text. A socket error during the send closes that connection,
    // which runs the disconnect handling on this thread (nested in StationTableMutex if held); the
    // result is still Sent, as the bytes were handed over.
    virtual SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes) = 0;

    // True when an open connection has that address. The menu and resumption ask before anything
    // else, so a station without a connection is reported before the operator is asked for minutes.
    virtual bool hasConnection(std::string_view address) const = 0;
};

} // namespace ostrel
