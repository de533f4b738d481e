#pragma once

#include "commands/CommandTransport.h"
#include "core/UniqueFd.h"
#include "stations/ReportStream.h"
#include "stations/StationLink.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
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

    // Commands the socket has not taken yet, oldest first; a command's bytes never interleave
    // with another's, and `done` learns whether it went out whole.
    struct PendingCommand
    {
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        CommandTransport::SendDone done;
    };
    std::deque<PendingCommand>& pendingOutput() { return m_pending; }
    std::size_t pendingBytes() const;

    // Set while a wait for readability or writability is outstanding, so none is started twice.
    bool readArmed = false;
    bool writeArmed = false;
    // The close came before the name: the disconnect handling runs once the name is known.
    bool disconnectOwed = false;
    // The name look-up's ticket while it may still wait in NameLookup's queue; 0 when none was taken.
    std::uint64_t lookUpTicket = 0;
    // The name look-up's 2 s limit, then the pending commands' limit; created on demand.
    std::unique_ptr<asio::steady_timer> nameTimer;
    std::unique_ptr<asio::steady_timer> sendTimer;

private:
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
