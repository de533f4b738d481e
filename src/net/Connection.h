#pragma once

#include "stations/ReportProcessor.h"
#include "stations/ReportStream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace ostrel {

// One station's TCP connection: a non-blocking descriptor shared (std::shared_ptr) by the
// connection list and the reader thread of the moment, so a reader that outlives the close still
// holds a valid object. The descriptor itself is closed only with the last owner, which keeps its
// number from being reused while a late reader may still call recv on it.
class Connection : public StationLink, public std::enable_shared_from_this<Connection>
{
public:
    using CloseHandler = std::function<void(Connection&)>;
    using NameResolver = std::function<std::string(const std::string& address)>;

    // Takes ownership of `fd`. `onClose` is the disconnect handling; it runs exactly once, on the
    // thread that closes the connection first.
    Connection(int fd, std::string address, CloseHandler onClose);
    ~Connection() override;

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }

    // Until the name is looked up, the dotted address stands in for it. No report is applied before
    // the look-up, so a station's row is always found under its real name.
    const std::string& hostName() const override;
    const std::string& address() const override { return m_address; }
    bool isClosed() const override { return m_closed.load(std::memory_order_acquire); }

    bool hostNameKnown() const { return m_nameKnown.load(std::memory_order_acquire); }
    // Looks the peer's name up once; the first reader calls it, off the main thread and outside
    // StationTableMutex, because a slow resolver can take seconds. Called by one thread at a time.
    void lookUpHostName(const NameResolver& resolver);

    // One send of the whole buffer, serialised against other senders. False on any failure (the
    // caller closes the connection); a short send counts as sent.
    bool sendBytes(std::span<const std::uint8_t> bytes);

    // Shuts the socket down (the station sees the close at once) and runs the disconnect handling.
    // Idempotent: later calls, from any thread, do nothing.
    void close();
    // Shuts the socket down without the disconnect handling: the server is going away.
    void closeSilently();

    // The partial report between two receives. Touched only by the connection's single reader.
    ReportStream& stream() { return m_stream; }
    // For observers on the reader thread, which may look but not touch.
    const ReportStream& stream() const { return m_stream; }

private:
    bool markClosed();

    const int m_fd;
    const std::string m_address;
    std::string m_hostName; // written once, before m_nameKnown is set
    std::atomic<bool> m_nameKnown{false};
    std::atomic<bool> m_closed{false};
    std::mutex m_sendMutex;
    CloseHandler m_onClose;
    ReportStream m_stream;
};

// The reverse look-up of a dotted IPv4 address (NI_NAMEREQD); the address itself when it fails.
std::string reverseLookUp(const std::string& address);

} // namespace ostrel
