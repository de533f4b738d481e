#pragma once

#include "commands/CommandTransport.h"
#include "core/UniqueFd.h"
#include "stations/ReportStream.h"
#include "stations/StationLink.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {

// One station's TCP connection. It lives on the network thread and is touched only there; the
// shared_ptr keeps it valid for the asynchronous operations and the name look-up that still refer
// to it after it closed.
class Connection : public StationLink, public std::enable_shared_from_this<Connection>
{
public:
    // Takes ownership of the accepted, non-blocking descriptor `fd`.
    Connection(asio::io_context& io, UniqueFd fd, std::string address);
    ~Connection() override;

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }
    asio::ip::tcp::socket& socket() { return m_socket; }

    // Until the look-up has answered, the dotted address stands in; no report is read before then,
    // so a station's row is always found under its real name.
    const std::string& hostName() const override { return m_nameKnown ? m_hostName : m_address; }
    const std::string& address() const override { return m_address; }
    bool isClosed() const override { return m_closed.load(std::memory_order_acquire); }

    bool hostNameKnown() const { return m_nameKnown; }
    void setHostName(std::string name);

    // The partial report between two receives.
    ReportStream& stream() { return m_stream; }
    const ReportStream& stream() const { return m_stream; }

    // Marks the connection closed and shuts the socket down (the station sees the end at once).
    // False when it was closed already.
    bool markClosed();
    // Shutdown: closed without the disconnect handling, its time limits stopped, and every command
    // still waiting told NotDelivered.
    void abandon();

    // One wait of each kind at a time: while one is outstanding, or once the connection is
    // closed, asking again does nothing. `then` runs on the network thread when the socket is ready.
    template <typename Then> void waitReadable(Then then)
    {
        waitFor(asio::socket_base::wait_read, &Connection::m_readArmed, std::move(then));
    }
    template <typename Then> void waitWritable(Then then)
    {
        waitFor(asio::socket_base::wait_write, &Connection::m_writeArmed, std::move(then));
    }

    // The close came before the name: the disconnect handling runs once the name is known.
    void oweDisconnect() { m_disconnectOwed = true; }
    bool disconnectOwed() const { return m_disconnectOwed; }
    // True, once, when the disconnect handling was owed; it is owed no more.
    bool takeOwedDisconnect() { return std::exchange(m_disconnectOwed, false); }

    // The name look-up's ticket while it may still wait in NameLookup's queue; 0 when none was taken.
    void setLookUpTicket(std::uint64_t ticket) { m_lookUpTicket = ticket; }
    std::uint64_t lookUpTicket() const { return m_lookUpTicket; }
    std::uint64_t takeLookUpTicket() { return std::exchange(m_lookUpTicket, 0); }

    // The name look-up's time limit: started when the look-up is, `expired` told when it runs out.
    void startNameLimit(std::chrono::milliseconds limit);
    template <typename Expired> void onNameLimit(Expired expired) { m_nameTimer->async_wait(std::move(expired)); }
    void stopNameLimit();

    // -1 on a failure other than a full socket buffer, else the bytes the socket took.
    ssize_t sendSome(std::span<const std::uint8_t> bytes);

    // Commands the socket has not taken yet, oldest first; a command's bytes never interleave
    // with another's, and `done` learns whether it went out whole.
    bool hasPendingOutput() const { return !m_pending.empty(); }
    std::size_t pendingBytes() const;
    // Queues a command of which the socket took `sent` bytes already.
    void queueOutput(std::span<const std::uint8_t> bytes, std::size_t sent, CommandTransport::SendDone done);
    // Sends what the socket takes of the oldest waiting command: nullopt when the send failed, else
    // whether part of it still waits.
    std::optional<bool> sendOldest();
    // Removes the oldest waiting command, gone out whole; its `done` is the caller's to tell.
    CommandTransport::SendDone dropOldest();
    // Every waiting command is removed, then told NotDelivered: it never went out whole.
    void failPending();

    // The oldest waiting command has this long to go out: created on the first wait, restarted at
    // each, `expired` told when it runs out.
    template <typename Expired> void restartSendLimit(std::chrono::milliseconds limit, Expired expired)
    {
        if (!m_sendTimer)
            m_sendTimer = std::make_unique<asio::steady_timer>(m_socket.get_executor());
        m_sendTimer->expires_after(limit);
        m_sendTimer->async_wait(std::move(expired));
    }
    void stopSendLimit();

private:
    struct PendingCommand
    {
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        CommandTransport::SendDone done;
    };

    template <typename Then> void waitFor(asio::socket_base::wait_type kind, bool Connection::*armed, Then then)
    {
        if (this->*armed || isClosed())
            return;
        this->*armed = true;
        // The shared_ptr keeps the connection valid until the wait ends, cancelled or not.
        m_socket.async_wait(kind, [self = shared_from_this(), armed, then](const asio::error_code& ec) {
            (*self).*armed = false;
            if (!ec)
                then();
        });
    }

    // Set while a wait for readability or writability is outstanding, so none is started twice.
    bool m_readArmed = false;
    bool m_writeArmed = false;
    bool m_disconnectOwed = false;
    std::uint64_t m_lookUpTicket = 0;
    // The name look-up's limit, then the pending commands' limit; created on demand.
    std::unique_ptr<asio::steady_timer> m_nameTimer;
    std::unique_ptr<asio::steady_timer> m_sendTimer;

    asio::ip::tcp::socket m_socket;
    const int m_fd;
    const std::string m_address;
    std::string m_hostName;
    bool m_nameKnown = false;
    std::atomic<bool> m_closed{false};
    ReportStream m_stream;
    std::deque<PendingCommand> m_pending;
};

// The reverse look-up of a dotted IPv4 address (NI_NAMEREQD); the address itself when it fails.
std::string reverseLookUp(const std::string& address);

} // namespace ostrel
