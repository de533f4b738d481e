#pragma once

// Live state for network tests: real tables, a real session log in a temporary folder and a real
// report processor, plus loopback stations that bind their own 127.0.0.x address.

#include "commands/CommandTransport.h"
#include "core/StationTableMutex.h"
#include "core/TariffList.h"
#include "core/UniqueFd.h"
#include "log/HistoryTable.h"
#include "log/SessionLog.h"
#include "stations/ReportProcessor.h"
#include "stations/StationReport.h"
#include "stations/StationTable.h"
#include "support/TempFolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::nettest {

using Bytes = std::vector<std::uint8_t>;

inline StationReport runningStationReport(double price = 2.0)
{
    StationReport r;
    r.statusCode = static_cast<std::int32_t>(StatusCode::Running);
    r.statusText = "Tariff";
    r.start = 46000.0 + 10.0 / 24;         // 10:00:00
    r.finish = r.start + 30.0 / (24 * 60); // 30 minutes later
    r.price = price;
    return r;
}

inline Bytes runningReport(double price = 2.0)
{
    const auto bytes = encodeStationReport(runningStationReport(price));
    return Bytes(bytes.begin(), bytes.end());
}

inline Bytes closedReport()
{
    StationReport r;
    r.statusCode = static_cast<std::int32_t>(StatusCode::Closed);
    const auto bytes = encodeStationReport(r);
    return Bytes(bytes.begin(), bytes.end());
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

using TempDir = testing::TempFolder;

// Everything report processing writes to, with the transport supplied by the test.
struct LiveState
{
    explicit LiveState(CommandTransport& transport, ResumeSettings settings = {})
        : log(dir.file("Ostrel.log"), history, [] { return 46000.5; }),
          processor(table, history, log, transport, prices, games, settings)
    {}

    std::size_t stationCount() const
    {
        std::scoped_lock hold(StationTableMutex);
        return static_cast<std::size_t>(table.rowCount() - 2);
    }
    std::optional<StationRow> stationRow(const std::string& name) const
    {
        std::scoped_lock hold(StationTableMutex);
        const auto r = table.FindStationRow(name);
        if (!r)
            return std::nullopt;
        return table.row(*r);
    }
    std::vector<HistoryRow> sessions() const
    {
        std::scoped_lock hold(StationTableMutex);
        auto rows = history.rows();
        return std::vector<HistoryRow>(rows.begin() + 1, rows.end() - 1);
    }
    std::uint64_t applied() const
    {
        std::scoped_lock hold(StationTableMutex);
        return processor.appliedReports();
    }
    std::uintmax_t logSize() const
    {
        std::error_code ec;
        const auto size = std::filesystem::file_size(log.path(), ec);
        return ec ? 0 : size;
    }

    TempDir dir;
    StationTable table;
    HistoryTable history;
    SessionLog log;
    TariffList prices{"Prices"};
    TariffList games{"Games"};
    ReportProcessor processor;
};

inline sockaddr_in loopback(const std::string& address, std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

inline std::uint16_t boundPort(int fd)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A station's TCP connection from its own loopback address.
class StationSocket
{
public:
    // `receiveBuffer` > 0 shrinks the receive window, for a station that stops reading.
    StationSocket(const std::string& from, std::uint16_t serverPort, int receiveBuffer = 0)
    {
        m_fd.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        setsockopt(m_fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (receiveBuffer > 0)
            setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const auto local = loopback(from, 0);
        const auto server = loopback("127.0.0.1", serverPort);
        m_ok = bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
               connect(m_fd.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0;
    }

    bool ok() const { return m_ok; }
    int fd() const { return m_fd.get(); }
    bool send(const Bytes& bytes) const
    {
        return ::send(m_fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Bytes that arrive within `timeout`; stops early at end of stream.
    Bytes receive(std::size_t want, std::chrono::milliseconds timeout) const
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < want) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd.get(), POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::array<std::uint8_t, 512> buffer;
            const ssize_t n = recv(m_fd.get(), buffer.data(), std::min(buffer.size(), want - got.size()), 0);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        return got;
    }
    // True when the server closed its side within `timeout`.
    bool seesClose(std::chrono::milliseconds timeout) const
    {
        pollfd p{m_fd.get(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        std::uint8_t byte = 0;
        return recv(m_fd.get(), &byte, 1, MSG_DONTWAIT) <= 0;
    }
    // Closes with a reset instead of an orderly end of stream.
    void reset()
    {
        linger l{1, 0};
        setsockopt(m_fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }
    void close() { m_fd.reset(); }

private:
    UniqueFd m_fd;
    bool m_ok = false;
};

// A non-blocking connect from `from`; -1 when no descriptor is left.
inline int connectWithoutWaiting(const std::string& from, std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const auto local = loopback(from, 0);
    const auto server = loopback("127.0.0.1", port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        (connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Puts the descriptor limit back however the test ends.
class DescriptorLimit
{
public:
    DescriptorLimit() { m_ok = getrlimit(RLIMIT_NOFILE, &m_saved) == 0; }
    ~DescriptorLimit()
    {
        if (m_ok)
            setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    // Leaves `spare` descriptor numbers free above the highest one in use now.
    bool leave(int spare)
    {
        const int probe = dup(0);
        if (probe < 0 || !m_ok)
            return false;
        ::close(probe);
        rlimit tight = m_saved;
        tight.rlim_cur = static_cast<rlim_t>(probe + spare);
        return setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }

private:
    rlimit m_saved{};
    bool m_ok = false;
};

class NoTransport : public CommandTransport
{
public:
    void post(std::string, const StationCommand&, SendDone done) override
    {
        if (done)
            done(SendResult::NoConnection);
    }
    bool hasConnection(std::string_view) const override { return false; }
};

} // namespace ostrel::nettest
