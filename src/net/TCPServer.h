#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "net/NameLookup.h"
#include "net/TThreadOnRead.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class StationReportSink;

// TCPServer, the stations' TCP listener and the network thread that owns every station connection. The
// thread accepts, receives, reassembles and applies reports (under StationTableMutex), sends
// commands and runs the disconnect handling with its session logging; other threads only post work
// to it. Implements the command transport: a command goes to the first open connection from the
// station's address.
class TCPServer : public CommandTransport
{
public:
    using NameResolver = NameLookup::Resolver;

    // How long a connection's reports wait for its name before the dotted address stands in.
    static constexpr std::chrono::milliseconds NameWait{2000};
    // Command bytes a connection may hold back for a socket that takes them only in part, and how
    // long; beyond either the connection is closed.
    static constexpr std::size_t MaxPendingCommandBytes = 64 * 1024;
    static constexpr std::chrono::milliseconds PendingCommandLimit{5000};
    // Open connections from one peer address; one more is closed as it is accepted. A station that
    // reconnects holds two for a moment; a peer that floods cannot take every descriptor.
    static constexpr std::size_t MaxConnectionsPerAddress = 16;

    TCPServer();
    // Calls stop(). Destroy it on a thread that does not hold StationTableMutex; the report
    // processor must outlive it.
    ~TCPServer() override;

    // Stops the network thread, then the name look-ups: stops accepting and closes every
    // connection without the disconnect handling (nothing is logged at shutdown); a command still
    // waiting for its socket is told NotDelivered on the network thread before it ends. Never
    // blocks on a name look-up under way. Later calls do nothing; afterwards a send finds no
    // connection and post() runs its job on the caller's thread.
    void stop();

    TCPServer(const TCPServer&) = delete;
    TCPServer& operator=(const TCPServer&) = delete;

    // Set before listen(): reports and disconnects go to the processor; the resolver (the reverse
    // DNS look-up by default) names stations, on look-up threads; the observer is told of every
    // report after it was applied, on the network thread.
    void setReportProcessor(StationReportSink* processor);
    void setNameResolver(NameResolver resolver);
    void setReportObserver(TThreadOnRead::ReportObserver observer);
    // Keep-alive idle time for accepted connections; nullopt keeps the system's timing.
    void setKeepAliveSeconds(std::optional<int> seconds);
    // Told on the network thread, once a station's name is known and again when its connection
    // ends (name, dotted address); it must only note, never wait.
    using StationSeen = std::function<void(const std::string& name, const std::string& address)>;
    void setStationSeen(StationSeen seen);

    // Listens on all local addresses at `port` (0: a port the system chooses) and starts the
    // network thread. False when the socket cannot be created, bound or put into listening state.
    bool listen(std::uint16_t port);
    bool isListening() const;
    std::uint16_t port() const; // the bound port; 0 when not listening

    // A command's one way out (see CommandTransport::post).
    void post(std::string address, const StationCommand& command, SendDone done) override;
    bool hasConnection(std::string_view address) const override;

    // Any bytes, for tests and tools. sendToAddress on the network thread sends at once; from
    // another thread it posts the send and waits for its immediate result (bytes the socket cannot
    // take yet follow later). sendWithOutcome also tells `done` the final result; postToAddress
    // never waits, and `done` is told on the network thread (here and now when none runs).
    SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes);
    void postToAddress(std::string address, std::vector<std::uint8_t> bytes, SendDone done);
    SendResult sendWithOutcome(std::string_view address, std::span<const std::uint8_t> bytes, SendDone done);

    // Discovery's request: the first open connection, in accept order, from `address` is closed and
    // its disconnect handling runs on the network thread (waited for from another thread). False
    // when there was none.
    bool closeFirstConnectionFrom(std::string_view address);

    // Discovery's datagram socket, watched on the network thread: `readable` runs there when `fd`
    // may hold datagrams, and returns true once it has read them all. The descriptor stays the
    // caller's; unwatchDatagrams() returns only when no `readable` runs any more.
    void watchDatagrams(int fd, std::function<bool()> readable);
    void unwatchDatagrams();

    // Runs `job` on the network thread, later; here and now when no network thread runs.
    void post(std::function<void()> job);

    std::size_t connectionCount() const;
    bool onNetworkThread() const;
    // Failed accept() calls that started a back-off (descriptors or memory ran out).
    std::uint64_t acceptBackOffs() const;
    // Connections closed as they were accepted: their address had MaxConnectionsPerAddress open.
    std::uint64_t refusedConnections() const;
    int lookUpThreads() const;
    std::size_t lookUpsWaiting() const; // look-ups queued for a thread

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace ostrel
