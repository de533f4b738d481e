#pragma once

#include "commands/StationCommand.h"

#include <functional>
#include <string>
#include <string_view>

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
    // Told whether a posted command went out whole; runs on the thread that owns the connections,
    // so it only hands the result on.
    using SendDone = std::function<void(SendResult)>;

    virtual ~CommandTransport() = default;

    // The one way a command goes: to the first open connection (in accept order) whose peer
    // address equals `address` as dotted text, sent where the connections live. `done` (may be
    // empty) is told exactly once, on that thread: Sent only when the whole command went out. Called
    // on that thread (report processing's resumption runs there) the send happens at once and a
    // result known at once is told before post returns; a failure closes the connection, which
    // runs the disconnect handling there too. With no such thread running it is told here and now.
    virtual void post(std::string address, const StationCommand& command, SendDone done) = 0;

    // True when an open connection has that address. The menu and resumption ask before anything
    // else, so a station without a connection is reported before the operator is asked for minutes.
    // Safe from any thread.
    virtual bool hasConnection(std::string_view address) const = 0;

    // Told of a command that was never posted because hasConnection said no: what it would have
    // been (a game without its minutes, which are not asked then). Nothing is sent; the audit
    // records it. Does nothing by default.
    virtual void notConnected(std::string_view /*address*/, const StationCommand& /*command*/) {}
};

} // namespace ostrel
