#include "net/TThreadOnRead.h"

#include "stations/StationLink.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace ostrel {

TThreadOnRead::Outcome TThreadOnRead::readAvailable(Connection& connection, StationReportSink& processor,
                                                    std::span<std::uint8_t> buffer, std::size_t maxBytes,
                                                    const ReportObserver* observer)
{
    std::size_t taken = 0;
    while (taken < maxBytes) {
        if (connection.isClosed())
            return Outcome::Closed;
        const std::size_t want = std::min(buffer.size(), maxBytes - taken);
        const ssize_t got = ::recv(connection.fd(), buffer.data(), want, MSG_DONTWAIT);
        if (got > 0) {
            taken += static_cast<std::size_t>(got);
            for (const auto& report :
                 connection.stream().append(std::span(buffer.data(), static_cast<std::size_t>(got)))) {
                processor.applyReport(connection, report);
                if (observer && *observer)
                    (*observer)(connection, report);
            }
            // A short receive took everything the socket held. What arrives later, an end of stream
            // that came with these bytes included, wakes the wait that follows: Asio arms every
            // wait with EPOLL_CTL_MOD, which reports a socket that is readable already.
            if (static_cast<std::size_t>(got) < want)
                return connection.isClosed() ? Outcome::Closed : Outcome::Drained;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Outcome::Drained;
        return Outcome::Closed; // end of stream, or a receive error
    }
    return Outcome::More;
}

} // namespace ostrel
