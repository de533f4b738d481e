#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

enum class SendResult
{
    Sent,         // every byte was handed to the station's socket
    NoConnection, // no open connection has that address: nothing was sent
    NotDelivered, // the connection failed or closed before the whole command went out; it was closed
};

// How a command reaches a station; the network layer implements it.
class CommandTransport
{
public:
    // Told once whether a posted command went out whole; runs on the thread that owns the
    // connections, so it only hands the result on.
    using SendDone = std::function<void(SendResult)>;

    virtual ~CommandTransport() = default;

    // Sends the bytes to the first open connection (in accept order) whose peer address equals
    // `address` as dotted text, on the thread that owns the connections (report processing's
    // resumption runs there). Bytes the socket cannot take at once follow as soon as it can, or the
    // connection is closed; a failure closes the connection, which runs the disconnect handling on
    // this thread (nested in StationTableMutex if held).
    virtual SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes) = 0;

    // The same from any thread: the send happens where the connections live, and `done` learns
    // the result there once it is known (Sent only when the whole command went out). By default
    // the send happens here and now.
    virtual void postToAddress(std::string address, std::vector<std::uint8_t> bytes, SendDone done)
    {
        const SendResult result = sendToAddress(address, bytes);
        if (done)
            done(result);
    }

    // As sendToAddress, and `done` learns the final result: at once, or once the bytes the socket
    // could not take at once went out or failed. Runs on the thread that owns the connections.
    virtual SendResult sendWithOutcome(std::string_view address, std::span<const std::uint8_t> bytes, SendDone done)
    {
        const SendResult result = sendToAddress(address, bytes);
        if (done)
            done(result);
        return result;
    }

    // True when an open connection has that address. The menu and resumption ask before anything
    // else, so a station without a connection is reported before the operator is asked for minutes.
    // Safe from any thread.
    virtual bool hasConnection(std::string_view address) const = 0;

    // Told of a command that was never handed over because hasConnection said no: what it would
    // have been (a game without its minutes, which are not asked then). Nothing is sent; the
    // audit trail records it. Does nothing by default.
    virtual void notConnected(std::string_view /*address*/, std::span<const std::uint8_t> /*bytes*/) {}
};

} // namespace ostrel
